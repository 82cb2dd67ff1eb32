#include "support/command.h"

#include <sys/wait.h>

#include <cstdio>
#include <stdexcept>

namespace orbv_test {

std::string run_command(const std::string& command, int* status) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("popen failed: " + command);
    std::string out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), pipe)) > 0) out.append(buf, n);
    const int raw = pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string probe(const std::string& path, const std::string& stream, const std::string& entry) {
    std::string out =
        run_command("ffprobe -v error -select_streams " + stream + ":0 -show_entries " + entry +
                    " -of default=noprint_wrappers=1:nokey=1 " + shell_quote(path));
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

int run_status(const std::string& command, std::string* output) {
    int status = -1;
    std::string text = run_command(command, &status);
    if (output) *output = text;
    return status;
}

bool program_available(const std::string& name) {
    return run_status("command -v " + shell_quote(name) + " >/dev/null 2>&1") == 0;
}

}  // namespace orbv_test
