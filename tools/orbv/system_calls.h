#pragma once

#include <ctime>
#include <string>
#include <vector>

// The few calls of the tool that differ between POSIX and Windows, beside the library's loading
// and the cancel on a signal. Paths and arguments are UTF-8 on both.
namespace orbv_tool {

// The command line as UTF-8 texts (Windows hands main its ANSI code page instead).
std::vector<std::string> utf8_arguments(int argc, char** argv);
bool stderr_is_terminal();
// gmtime_r: the UTC calendar of a time.
bool utc_calendar(std::time_t seconds, std::tm* utc);
// setenv's rule: an existing value stays unless `replace`.
void set_environment(const char* name, const char* value, bool replace);
void unset_environment(const char* name);
bool may_write_in(const std::string& directory);
bool may_read(const std::string& file);
// A volume such as /proc that stores no files at all.
bool volume_stores_no_files(const std::string& directory);

}  // namespace orbv_tool
