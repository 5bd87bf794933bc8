#include "qvx/json.h"

#include <cstdio>

namespace qvx {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c >= 0x7F) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

TJsonObject& TJsonObject::Member(const std::string& key, const std::string& json) {
    if (!Members.empty())
        Members += ",";
    Members += JsonString(key) + ":" + json;
    return *this;
}

TJsonObject& TJsonObject::Str(const std::string& key, const std::string& value) {
    return Member(key, JsonString(value));
}

TJsonObject& TJsonObject::Int(const std::string& key, long long value) {
    return Member(key, std::to_string(value));
}

TJsonObject& TJsonObject::Bool(const std::string& key, bool value) {
    return Member(key, value ? "true" : "false");
}

TJsonObject& TJsonObject::Raw(const std::string& key, const std::string& value) {
    return Member(key, value);
}

TJsonObject& TJsonObject::Strings(const std::string& key, const std::vector<std::string>& values) {
    std::vector<std::string> items;
    for (const std::string& v : values)
        items.push_back(JsonString(v));
    return Member(key, JsonArray(items));
}

std::string JsonArray(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? "," : "") + items[i];
    return out + "]";
}

} // namespace qvx
