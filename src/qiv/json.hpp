// json.hpp - the JSON that qiv's --json documents are made of: escaped strings, objects, an array written as it grows
#pragma once

#include "qiv/utf8.hpp"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace qiv {

// `text` as a JSON string, always valid UTF-8: quoted, with quotes,
// backslashes and control characters escaped, UTF-8 sequences as they are, and
// each byte that starts no valid UTF-8 sequence shown as U+FFFD.
std::string json_string(std::string_view text);


// One object, its members in the order they are added.
class JsonObject {
public:
    JsonObject& add(std::string_view key, std::string_view value);  // a string
    JsonObject& add(std::string_view key, const char* value) { return add(key, std::string_view(value)); }
    JsonObject& add(std::string_view key, std::uint64_t value);    // a number
    // A file name: as add() shows it, and, when it is not valid UTF-8, also
    // exactly, as hex bytes under key + "_hex", so that a script can still
    // find the file.
    JsonObject& add_name(std::string_view key, std::string_view name);
    JsonObject& add_json(std::string_view key, std::string_view json);  // a value already in JSON (a number, null)
    std::string text() const { return "{" + members_ + "}"; }

private:
    std::string members_;  // "key": value pairs, comma-separated
};

// An array of objects written to `out` one element a line, as they come:
// "[" first, then each object, then "]" from close() (or the destructor).
class JsonArrayWriter {
public:
    explicit JsonArrayWriter(std::FILE* out);
    ~JsonArrayWriter() { close(); }
    JsonArrayWriter(const JsonArrayWriter&) = delete;
    JsonArrayWriter& operator=(const JsonArrayWriter&) = delete;
    void add(const JsonObject& object);
    void close();

private:
    std::FILE* out_;
    bool empty_ = true;   // no element written yet
    bool closed_ = false;
};

}  // namespace qiv
