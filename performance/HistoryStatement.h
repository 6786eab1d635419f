// A prepared SQLite statement finalized when it goes out of scope, for the store's own files.
#pragma once

#include <sqlite3.h>

namespace kestrel {

struct Statement {
    sqlite3_stmt* s;
    ~Statement() { sqlite3_finalize(s); }
};

}  // namespace kestrel
