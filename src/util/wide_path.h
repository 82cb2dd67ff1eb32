#pragma once

#include <string>

// Windows only: the UTF-16 form of a UTF-8 text, for the wide-character calls.
namespace orbv {

// "" (with errno EINVAL) when the text is not UTF-8.
std::wstring utf16(const char* text);
std::string utf8(const wchar_t* text);

}  // namespace orbv
