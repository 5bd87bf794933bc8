#pragma once
// A JSON object written member by member, for the console's --json results.
// Bytes outside ASCII are written as \u00XX (the adapter's texts are not
// UTF-8), so the result is always valid JSON.
#include <string>
#include <vector>

namespace qvx {

std::string JsonString(const std::string& text);

class TJsonObject {
public:
    TJsonObject& Str(const std::string& key, const std::string& value);
    TJsonObject& Int(const std::string& key, long long value);
    TJsonObject& Bool(const std::string& key, bool value);
    // value is JSON already (an object or an array).
    TJsonObject& Raw(const std::string& key, const std::string& value);
    TJsonObject& Strings(const std::string& key, const std::vector<std::string>& values);
    std::string Text() const { return "{" + Members + "}"; }

private:
    TJsonObject& Member(const std::string& key, const std::string& json);
    std::string Members;
};

// "[a,b,...]" of JSON texts.
std::string JsonArray(const std::vector<std::string>& items);

} // namespace qvx
