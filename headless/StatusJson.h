// A small JSON writer and the atomic replacement of a file, for the status pictures.
#pragma once

#include <string>
#include <string_view>

namespace kestrel::headless {

// Writes one JSON object member by member; strings are escaped as JSON requires.
class JsonWriter {
public:
    JsonWriter() { text = "{"; }
    JsonWriter& Open(std::string_view key);  // a nested object
    JsonWriter& Close();
    JsonWriter& Add(std::string_view key, std::string_view value);
    JsonWriter& Add(std::string_view key, const char* value) {
        return Add(key, std::string_view(value));
    }
    JsonWriter& Add(std::string_view key, long long value);
    JsonWriter& Add(std::string_view key, bool value);
    // The text of the whole object, with a line end.
    std::string Finish();

private:
    void Key(std::string_view key);
    std::string text;
    bool first = true;
};

std::string JsonString(std::string_view value);

// Replaces `path` as a whole: writes a hidden file beside it (AsidePath), then exchanges the
// two names, so that a reader sees the old picture or the new one, never half of one. The old
// picture stays in the hidden file until the next write rewrites it: a reader reads a picture
// at once, or copies it. No fsync: a picture is worth nothing after a crash. On failure
// returns false and says why in `error`.
bool ReplaceFile(const std::string& path, const std::string& text, std::string& error);
std::string AsidePath(const std::string& path);

}  // namespace kestrel::headless
