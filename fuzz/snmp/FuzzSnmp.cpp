// Fuzzes what a manager sends the subagent: the names of GET, GETNEXT and SET requests (any
// length, any sub-identifier) and SET values, against MUXes with and without kept quarters, and
// checks the rules every answer must keep.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "snmp/MibModel.h"

namespace {

using namespace kestrel::snmp;

void Check(bool ok) {
    if (!ok)
        std::abort();
}

const MibView& View() {
    static const MibView view = [] {
        auto s = std::make_shared<Snapshot>();
        for (int position : {1, 2, 7}) {
            MuxLines m;
            m.name = "m" + std::to_string(position);
            m.position = position;
            if (position != 1) {
                auto h = std::make_shared<History>();
                h->quarters.resize(position == 2 ? 3 : 96);
                h->quarters[0].emplace();
                h->quarters.back().emplace();
                m.history = h;
            }
            s->muxes.push_back(m);
        }
        return MibView(s);
    }();
    return view;
}

bool Before(const Oid& a, const Oid& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace

// Byte 0 picks the table and the request, byte 1 the SET value; then each sub-identifier is one
// byte, or, after a byte 0xff, the next four bytes as a 32-bit number. A name that starts with
// byte 0xfe starts from the table's entry.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const auto& tables = Tables();
    const Table& table = tables[bytes[0] % tables.size()];
    const int request = (bytes[0] / tables.size()) % 4;
    Oid name;
    std::size_t i = 2;
    if (i < size && bytes[i] == 0xfe) {
        name = table.entry;
        ++i;
    }
    while (i < size && name.size() < 128) {
        if (bytes[i] == 0xff && i + 4 < size) {
            std::uint32_t v = 0;
            std::memcpy(&v, bytes + i + 1, 4);
            name.push_back(v);
            i += 5;
        } else {
            name.push_back(bytes[i++]);
        }
    }
    const MibView& view = View();
    switch (request) {
    case 0:
        if (const auto value = view.Get(table, name)) {
            // Only whole names of a served column and an existing row answer.
            Check(name.size() > table.entry.size() + 1);
            Check(std::equal(table.entry.begin(), table.entry.end(), name.begin()));
            Check(std::binary_search(table.columns.begin(), table.columns.end(),
                                     static_cast<int>(name[table.entry.size()])));
        }
        break;
    case 1:
    case 2: {
        const int column = request == 2 ? table.columns[bytes[1] % table.columns.size()] : 0;
        if (const auto next = view.GetNext(table, name, column)) {
            Check(Before(name, next->first));
            Check(std::equal(table.entry.begin(), table.entry.end(), next->first.begin()));
            Check(column == 0 || next->first[table.entry.size()] == static_cast<SubId>(column));
            const auto again = view.Get(table, next->first);
            Check(again && *again == next->second);
            // Nothing lies between the name and the answer.
            const auto from = view.GetNext(table, next->first, column);
            Check(!from || Before(next->first, from->first));
        }
        break;
    }
    default: {
        Value value;
        value.type = bytes[1] & 0x80 ? Value::Type::OctetString : Value::Type::Integer;
        value.number = static_cast<std::int8_t>(bytes[1] << 1) / 2;
        TrapEnableWrite write;
        if (view.CheckSet(table, name, value, write) == SetError::None) {
            Check(table.writable && name.back() == write.line);
            Check(value.number == 1 || value.number == 2);
            Check(view.Get(table, name).has_value());
        }
        break;
    }
    }
    return 0;
}
