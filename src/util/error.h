#pragma once

#include <stdexcept>
#include <string>

namespace orbv {

// Thrown by the file readers when they cannot go on (a file that cannot be opened, a failed
// search for the top-level movie atom). The exported functions turn it into the operation's
// "an unknown error occurred" document with what() as the api_errstr.
class Error : public std::runtime_error {
  public:
    explicit Error(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace orbv
