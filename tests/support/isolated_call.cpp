#include "support/isolated_call.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <stdexcept>

// Present only in sanitizer builds with LeakSanitizer: a leak check that returns.
extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

namespace orbv_test {

namespace {
int g_record_file = -1;  // the child's record file; -1 in the parent
}

std::string IsolatedOutcome::describe() const {
    std::string text = status < 0            ? "killed after the time limit"
                       : WIFSIGNALED(status) ? strsignal(WTERMSIG(status))
                                             : "exit " + std::to_string(WEXITSTATUS(status));
    for (const CallbackRecord& r : records)
        text += "\n  state " + std::to_string(r.state) + ": " + r.document;
    return text;
}

// A record is the state and the document's length, 4 bytes each, then the document. One write each,
// to a file opened for appending, so nothing sent before a crash is lost.
void IsolatedCall::callback(int32_t state, const char* json) {
    if (g_record_file < 0) std::abort();  // only for bodies run in a child
    const std::string doc = json ? json : "<null>";
    const uint32_t length = static_cast<uint32_t>(doc.size());
    std::string record(8, '\0');
    std::memcpy(&record[0], &state, 4);
    std::memcpy(&record[4], &length, 4);
    record += doc;
    if (::write(g_record_file, record.data(), record.size()) != ssize_t(record.size())) _exit(99);
}

IsolatedOutcome IsolatedCall::run(const std::function<void()>& body, double limit_seconds) {
    TempDir dir;
    const std::string path = dir.file("records");
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        g_record_file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        int code = 97;  // the body threw
        try {
            body();
            code = 0;
        } catch (...) {
        }
        if (code == 0 && __lsan_do_recoverable_leak_check && __lsan_do_recoverable_leak_check())
            code = 98;  // memory lost
        _exit(code);
    }
    IsolatedOutcome o;
    int waited = 0;
    while (::waitpid(pid, &o.status, WNOHANG) == 0) {
        if (++waited > limit_seconds * 200) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            o.status = -1;
            break;
        }
        ::usleep(5000);
    }
    const std::string bytes = read_file(path);
    for (size_t at = 0; at + 8 <= bytes.size();) {
        CallbackRecord r{0, ""};
        uint32_t length;
        std::memcpy(&r.state, &bytes[at], 4);
        std::memcpy(&length, &bytes[at + 4], 4);
        r.document = bytes.substr(at + 8, length);
        at += 8 + length;
        o.records.push_back(r);
    }
    return o;
}

}  // namespace orbv_test
