#include <sys/statvfs.h>
#include <unistd.h>

#include "system_calls.h"

namespace orbv_tool {

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) != 0; }

void set_environment(const char* name, const char* value, bool replace) {
    ::setenv(name, value, replace ? 1 : 0);
}

void unset_environment(const char* name) { ::unsetenv(name); }

bool utc_calendar(std::time_t seconds, std::tm* utc) { return gmtime_r(&seconds, utc) != nullptr; }

bool may_write_in(const std::string& directory) { return ::access(directory.c_str(), W_OK) == 0; }

bool may_read(const std::string& file) { return ::access(file.c_str(), R_OK) == 0; }

bool volume_stores_no_files(const std::string& directory) {
    struct statvfs volume {};
    return ::statvfs(directory.c_str(), &volume) == 0 && volume.f_blocks == 0;
}

}  // namespace orbv_tool
