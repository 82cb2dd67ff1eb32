// The tests' calls of the POSIX system: directories, the shell, child processes.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "support/test_support.h"

// Present only in sanitizer builds with LeakSanitizer: a leak check that returns.
extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

namespace orbv_test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orbv-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Both the permission check and an actual attempt must refuse, so the answer does not rest on the
// call under test alone.
std::string unwritable_directory() {
    static TempDir own;
    if (::geteuid() != 0) ::chmod(own.path().c_str(), 0555);
    for (const std::string& dir : {own.path(), std::string("/proc/sys/kernel")}) {
        const std::string probe = dir + "/orbv-probe";
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd >= 0) ::close(fd), ::unlink(probe.c_str());
        if (fd < 0 && ::access(dir.c_str(), W_OK) != 0) return dir;
    }
    return "";
}

// As root, /proc takes writes but holds no free block.
std::string full_volume() {
    struct statvfs vfs;
    const bool full = ::statvfs("/proc", &vfs) == 0 && vfs.f_bfree == 0;
    return full && ::access("/proc", W_OK) == 0 ? "/proc" : "";
}

std::string run_command(const std::string& command, int* status) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("popen failed: " + command);
    std::string out;
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof(buf), pipe)) > 0;) out.append(buf, n);
    const int raw = pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

namespace {
int g_record_file = -1;  // the child's record file; -1 in the parent
}

// A record is a line: the state, a space, the document (flat JSON holds no raw line feed). One
// write each, to a file opened for appending, so nothing sent before a crash is lost.
void IsolatedCall::callback(int32_t state, const char* json) {
    if (g_record_file < 0) std::abort();  // only for bodies run in a child
    const std::string line = std::to_string(state) + " " + (json ? json : "<null>") + "\n";
    if (::write(g_record_file, line.data(), line.size()) != ssize_t(line.size())) _exit(99);
}

IsolatedOutcome IsolatedCall::run(const std::function<void()>& body, double limit_seconds) {
    TempDir dir;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        g_record_file = ::open(dir.file("records").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        int code = 97;  // the body threw
        try {
            body();
            code = __lsan_do_recoverable_leak_check && __lsan_do_recoverable_leak_check() ? 98 : 0;
        } catch (...) {
        }
        _exit(code);
    }
    IsolatedOutcome o;
    for (int waited = 0; pid > 0 && ::waitpid(pid, &o.status, WNOHANG) == 0; ::usleep(5000)) {
        if (++waited > limit_seconds * 200) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            o.status = -1;
        }
    }
    std::istringstream lines(read_file(dir.file("records")));
    for (std::string line; std::getline(lines, line);) {
        const size_t space = line.find(' ');
        if (space > 0 && space != line.npos && line.find_first_not_of("0123456789") == space) {
            o.records.push_back({std::stoi(line), line.substr(space + 1)});
        } else if (!o.records.empty()) {
            o.records.back().document += "\n" + line;  // a raw line feed: no flat JSON
        }
    }
    return o;
}

bool names_take_any_bytes() { return true; }

}  // namespace orbv_test
