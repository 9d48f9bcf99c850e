// json.cpp - escaping and laying out qiv's JSON
#include "qiv/json.hpp"

#include "qiv/utf8.hpp"

namespace qiv {

std::string json_string(std::string_view text) {
    std::string json = "\"";
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (static_cast<unsigned char>(c) >= 0x80) {
            const std::size_t length = utf8_sequence(text, at);  // 2 to 4 for these, or 0
            if (length == 0) {
                json += "\xEF\xBF\xBD";  // U+FFFD, the replacement character
            } else {
                json.append(text.substr(at, length));
                at += length - 1;
            }
            continue;
        }
        switch (c) {
        case '"': json += "\\\""; break;
        case '\\': json += "\\\\"; break;
        case '\b': json += "\\b"; break;
        case '\f': json += "\\f"; break;
        case '\n': json += "\\n"; break;
        case '\r': json += "\\r"; break;
        case '\t': json += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                json += escaped;
            } else {
                json += c;
            }
        }
    }
    return json + "\"";
}

JsonObject& JsonObject::add(std::string_view key, std::string_view value) { return add_json(key, json_string(value)); }

JsonObject& JsonObject::add(std::string_view key, std::uint64_t value) { return add_json(key, std::to_string(value)); }

JsonObject& JsonObject::add_name(std::string_view key, std::string_view name) {
    add(key, name);
    if (is_utf8(name)) return *this;
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string hex;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        hex += DIGITS[byte >> 4];
        hex += DIGITS[byte & 15];
    }
    return add(std::string(key) + "_hex", hex);
}

JsonObject& JsonObject::add_json(std::string_view key, std::string_view json) {
    if (!members_.empty()) members_ += ", ";
    members_ += json_string(key);
    members_ += ": ";
    members_ += json;
    return *this;
}

JsonArrayWriter::JsonArrayWriter(std::FILE* out) : out_(out) { std::fputs("[", out_); }

void JsonArrayWriter::add(const JsonObject& object) {
    std::fprintf(out_, "%s  %s", empty_ ? "\n" : ",\n", object.text().c_str());
    empty_ = false;
}

void JsonArrayWriter::close() {
    if (closed_) return;
    std::fputs(empty_ ? "]\n" : "\n]\n", out_);
    closed_ = true;
}

}  // namespace qiv
