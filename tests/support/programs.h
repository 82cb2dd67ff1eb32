#pragma once

#include <string>

namespace orbv_test {

// Whether a program of that name is on the PATH (for tests that check with ffmpeg & co.).
bool program_available(const std::string& name);
// Runs a shell command; returns its exit status and puts its standard output in *output.
int run_command(const std::string& command, std::string* output = nullptr);
// The text in single quotes for the shell.
std::string shell_quote(const std::string& text);

}  // namespace orbv_test
