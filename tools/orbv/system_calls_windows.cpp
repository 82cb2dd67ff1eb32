#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "system_calls.h"

namespace orbv_tool {

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(std::filesystem::path(wide[i]).u8string());
    LocalFree(wide);
    return args;
}

bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

void set_environment(const char* name, const char* value, bool replace) {
    if (replace || std::getenv(name) == nullptr) _putenv_s(name, value);
}

// An empty value removes the variable.
void unset_environment(const char* name) { _putenv_s(name, ""); }

bool utc_calendar(std::time_t seconds, std::tm* utc) { return gmtime_s(utc, &seconds) == 0; }

bool may_write_in(const std::string& directory) {
    return _waccess(std::filesystem::u8path(directory).c_str(), 2) == 0;
}

bool may_read(const std::string& file) {
    return _waccess(std::filesystem::u8path(file).c_str(), 4) == 0;
}

bool volume_stores_no_files(const std::string&) { return false; }

}  // namespace orbv_tool
