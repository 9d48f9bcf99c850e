// json.cpp - escaping and laying out qiv's JSON
#include "qiv/json.hpp"

namespace qiv {

std::string json_string(std::string_view text) {
    std::string json = "\"";
    for (const char c : text) {
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
