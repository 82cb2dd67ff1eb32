#include "flat_json.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orbv_tool {

namespace {

bool is_bare_value(const std::string& value) {
    if (value == "true" || value == "false" || value == "null") return true;
    if (value.empty() || value.find_first_not_of("0123456789+-.eE") != std::string::npos)
        return false;
    char* end = nullptr;
    std::strtod(value.c_str(), &end);
    return *end == '\0' && value[0] != '+' && value[0] != '.';
}

}  // namespace

bool parse_flat_object(const std::string& text, Fields* fields) {
    size_t i = 0;
    auto expect = [&](char c) {
        if (i < text.size() && text[i] == c) {
            ++i;
            return true;
        }
        return false;
    };
    auto read_string = [&](std::string* out) {
        if (!expect('"')) return false;
        while (i < text.size() && text[i] != '"') {
            if (static_cast<unsigned char>(text[i]) < 0x20) return false;
            if (text[i] == '\\') {
                if (i + 1 >= text.size() || std::strchr("\"\\/bfnrtu", text[i + 1]) == nullptr)
                    return false;
                ++i;
            }
            *out += text[i++];
        }
        return expect('"');
    };
    if (!expect('{')) return false;
    if (expect('}')) return i == text.size();
    do {
        std::string key, value;
        if (!read_string(&key) || !expect(':')) return false;
        if (i < text.size() && text[i] == '"') {
            if (!read_string(&value)) return false;
        } else {
            while (i < text.size() && text[i] != ',' && text[i] != '}') value += text[i++];
            if (!is_bare_value(value)) return false;
        }
        fields->emplace_back(std::move(key), std::move(value));
    } while (expect(','));
    return expect('}') && i == text.size();
}

std::string json_quote(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        char code[8] = {c, '\0'};
        if (static_cast<unsigned char>(c) < 0x20) std::snprintf(code, sizeof(code), "\\u%04x", c);
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += code;
    }
    return quoted + "\"";
}

const std::string* find(const Fields& fields, const char* key) {
    for (const auto& [k, v] : fields)
        if (k == key) return &v;
    return nullptr;
}

}  // namespace orbv_tool
