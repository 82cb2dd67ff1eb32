#pragma once

#include <string>
#include <utility>
#include <vector>

namespace orbv_tool {

// The fields of one of the library's documents, in their order, values unquoted.
using Fields = std::vector<std::pair<std::string, std::string>>;

// Reads a flat JSON object of strings, numbers and the words true, false and null. False for
// anything else, such as a document cut at its size limit or a message holding a quote.
bool parse_flat_object(const std::string& text, Fields* fields);

// `text` as a JSON string, quotes included; bytes that are not UTF-8 pass as they are, as
// the library's documents pass them.
std::string json_quote(const std::string& text);

// The value of `key`, null when the document has none.
const std::string* find(const Fields& fields, const char* key);

}  // namespace orbv_tool
