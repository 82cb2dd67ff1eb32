#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace orbv_test {

// What became of a call made in a child process.
struct IsolatedOutcome {
    bool exited = false;                  // the child ended through _exit, not through a signal
    int exit_code = -1;                   // its exit status when it exited
    int signal = 0;                       // the signal that ended it (SIGKILL after a time-out)
    bool timed_out = false;               // killed because it ran past the limit
    double seconds = 0;                   // from fork to the end of the child
    std::vector<CallbackRecord> records;  // every callback the child received, in order

    // The child came back on its own, cleanly (no crash, no sanitizer finding, no time-out).
    bool clean() const { return exited && exit_code == 0 && !timed_out; }
    // A line for failure messages: how the child ended and what it received.
    std::string describe() const;
};

// Runs `body` in a forked child so that a crash, an abort or a sanitizer report there fails
// the test instead of ending the test program. The body passes IsolatedCall::callback to the
// library; each callback travels to the parent through a pipe as it happens. A child still
// running after `limit_seconds` is killed. In sanitizer builds the child checks for leaks
// before it ends, and a leak ends it with kLeakExit.
class IsolatedCall {
  public:
    static constexpr int kLeakExit = 97;
    static constexpr int kBodyThrewExit = 98;

    static IsolatedOutcome run(const std::function<void()>& body, double limit_seconds = 30);
    // Whether this build's children check for leaks (a sanitizer build with LeakSanitizer).
    static bool checks_leaks();
    // The callback for the library: usable only inside a body given to run().
    static void callback(int32_t state, const char* json);
};

}  // namespace orbv_test
