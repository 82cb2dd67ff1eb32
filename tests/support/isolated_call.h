#pragma once

#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace orbv_test {

// What became of a call made in a child process: how it ended and every callback it received.
struct IsolatedOutcome {
    int status = -1;  // waitpid's status; -1 when it was killed after the time limit
    std::vector<CallbackRecord> records;
    // The child came back on its own with status 0: no crash, no sanitizer finding, no leak.
    bool clean() const { return status == 0; }
    std::string describe() const;
};

// Runs `body` in a forked child, so that a crash, an abort, a sanitizer report or a hang there
// fails the test instead of ending the test program. The body passes IsolatedCall::callback to the
// library; each document reaches the parent even when the child dies after it. In sanitizer builds
// the child checks for leaks before it ends.
class IsolatedCall {
  public:
    static IsolatedOutcome run(const std::function<void()>& body, double limit_seconds = 60);
    static void callback(int32_t state, const char* json);
};

}  // namespace orbv_test
