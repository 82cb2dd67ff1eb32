#include "support/isolated_call.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

// Present only in sanitizer builds with LeakSanitizer: a leak check that returns.
extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

namespace orbv_test {

namespace {

using Clock = std::chrono::steady_clock;

int g_child_pipe = -1;  // the child's end; -1 in the parent

constexpr uint32_t kNullDocument = 0xFFFFFFFFu;

void write_all(int fd, const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t put = ::write(fd, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) _exit(99);  // the parent is gone: nothing left to report to
        p += put;
        n -= static_cast<size_t>(put);
    }
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Splits the bytes the child sent into records: state, length, document.
std::vector<CallbackRecord> parse_records(const std::string& bytes) {
    std::vector<CallbackRecord> records;
    size_t at = 0;
    while (bytes.size() - at >= 8) {
        int32_t state;
        uint32_t length;
        std::memcpy(&state, bytes.data() + at, 4);
        std::memcpy(&length, bytes.data() + at + 4, 4);
        at += 8;
        if (length == kNullDocument) {
            records.push_back({state, "<null>"});
            continue;
        }
        if (bytes.size() - at < length) break;  // cut off by a crash
        records.push_back({state, bytes.substr(at, length)});
        at += length;
    }
    return records;
}

}  // namespace

std::string IsolatedOutcome::describe() const {
    std::ostringstream out;
    if (timed_out) {
        out << "killed after a time-out";
    } else if (exited) {
        out << "exited with " << exit_code;
    } else {
        out << "ended by signal " << signal << " (" << strsignal(signal) << ")";
    }
    out << " after " << seconds << " s; " << records.size() << " callback(s)";
    for (const CallbackRecord& r : records) out << "\n  state " << r.state << ": " << r.document;
    return out.str();
}

bool IsolatedCall::checks_leaks() { return __lsan_do_recoverable_leak_check != nullptr; }

void IsolatedCall::callback(int32_t state, const char* json) {
    if (g_child_pipe < 0) std::abort();  // only for bodies run in a child
    const uint32_t length =
        json != nullptr ? static_cast<uint32_t>(std::strlen(json)) : kNullDocument;
    char header[8];
    std::memcpy(header, &state, 4);
    std::memcpy(header + 4, &length, 4);
    write_all(g_child_pipe, header, sizeof header);
    if (json != nullptr) write_all(g_child_pipe, json, length);
}

IsolatedOutcome IsolatedCall::run(const std::function<void()>& body, double limit_seconds) {
    IsolatedOutcome outcome;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    std::fflush(stdout);
    std::fflush(stderr);
    const Clock::time_point start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::close(fds[0]);
        g_child_pipe = fds[1];
        int code = 0;
        try {
            body();
        } catch (...) {
            code = kBodyThrewExit;
        }
        if (code == 0 && __lsan_do_recoverable_leak_check != nullptr &&
            __lsan_do_recoverable_leak_check() != 0) {
            code = kLeakExit;
        }
        ::close(g_child_pipe);
        _exit(code);
    }
    ::close(fds[1]);

    // Collect what the child sends until it closes its end or runs out of time.
    std::string bytes;
    bool open = true;
    while (open) {
        const double left = limit_seconds - seconds_since(start);
        if (left <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left * 1000) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char buffer[65536];
        const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            open = false;
        } else {
            bytes.append(buffer, static_cast<size_t>(got));
        }
    }
    ::close(fds[0]);

    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) break;
        if (seconds_since(start) > limit_seconds) {
            outcome.timed_out = true;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        ::usleep(2000);
    }
    outcome.seconds = seconds_since(start);
    outcome.exited = WIFEXITED(status);
    outcome.exit_code = outcome.exited ? WEXITSTATUS(status) : -1;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    outcome.records = parse_records(bytes);
    return outcome;
}

}  // namespace orbv_test
