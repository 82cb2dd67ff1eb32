#pragma once

#include <string>

namespace orbv_test {

// Runs a shell command and returns its standard output; its exit status goes to *status.
std::string run_command(const std::string& command, int* status = nullptr);
// Runs a shell command; returns its exit status and puts its standard output in *output.
int run_status(const std::string& command, std::string* output = nullptr);
// Whether a program of that name is on the PATH (for tests that check with ffmpeg & co.).
bool program_available(const std::string& name);
// The text quoted for the shell as one word.
std::string shell_quote(const std::string& text);
// ffprobe's value of one entry (e.g. "stream=nb_frames") of the first stream of a kind
// ("v" or "a"), as text; "" when ffprobe gives none.
std::string probe(const std::string& path, const std::string& stream, const std::string& entry);

}  // namespace orbv_test
