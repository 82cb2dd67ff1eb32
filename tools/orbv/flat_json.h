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

// The value of `key`, null when the document has none.
const std::string* find(const Fields& fields, const char* key);

}  // namespace orbv_tool
