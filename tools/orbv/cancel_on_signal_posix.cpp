#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cancel_on_signal.h"

namespace orbv_tool {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kExitCancelled = 3;

// The handler may only make async-signal-safe calls: everything it needs is in fixed buffers.
char g_cancel_path[4096];
char g_private_dir[4096];  // empty when the user named the cancel file
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free count");
std::atomic<int> g_count{0};
std::atomic<int> g_first_done{0};
volatile sig_atomic_t g_created_cancel = 0;
struct sigaction g_previous[3];

void note(const char* text, size_t size) { (void)!::write(STDERR_FILENO, text, size); }

void remove_cancel_file() {
    if (g_created_cancel) ::unlink(g_cancel_path);
    if (g_private_dir[0] != '\0') ::rmdir(g_private_dir);
}

// FFmpeg's codecs may run threads, and a signal can reach any of them, even while another runs
// the handler: the count is atomic, and the third waits until the first made the cancel file.
void on_signal(int) {
    const int count = ++g_count;
    if (count == 1) {
        const int fd = ::open(g_cancel_path, O_CREAT | O_EXCL | O_WRONLY, 0600);
        if (fd >= 0) {
            g_created_cancel = 1;
            ::close(fd);
        }
        static const char text[] = "\norbv: cancelling (a third signal stops at once)\n";
        note(text, sizeof(text) - 1);
        g_first_done = 1;
    } else if (count == 3) {
        const timespec pause{0, 1000000};
        for (int i = 0; i < 1000 && !g_first_done; ++i) ::nanosleep(&pause, nullptr);
        remove_cancel_file();
        static const char text[] = "\norbv: stopped\n";
        note(text, sizeof(text) - 1);
        ::_exit(kExitCancelled);
    }
}

bool copy_into(char (&buffer)[4096], const std::string& text) {
    if (text.size() >= sizeof(buffer)) return false;
    std::snprintf(buffer, sizeof(buffer), "%s", text.c_str());
    return true;
}

std::string private_directory() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/orbv-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    return ::mkdtemp(buffer.data()) != nullptr ? std::string(buffer.data()) : std::string();
}

// Signals wait while the handlers come and go, so that none finds the private directory made
// and no handler to remove it.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (const int s : kSignals) sigaddset(&set, s);
        ::sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() {
        if (!keep_) ::sigprocmask(SIG_SETMASK, &old_, nullptr);
    }
    // Signals that came stay held until the tool exits: the job has been cancelled.
    void keep() { keep_ = true; }

  private:
    sigset_t old_;
    bool keep_ = false;
};

}  // namespace

CancelOnSignal::CancelOnSignal(const std::string& cancel_path) {
    const SignalsHeld held;
    if (cancel_path.empty()) {
        dir_ = private_directory();
        if (dir_.empty()) {
            std::fprintf(stderr,
                         "orbv: warning: no private directory for the cancel file; "
                         "signals end the tool at once\n");
            return;
        }
        path_ = dir_ + "/cancel";
    } else {
        path_ = cancel_path;
    }
    if (!copy_into(g_cancel_path, path_) || !copy_into(g_private_dir, dir_)) {
        // Names too long for the handler's buffers: signals keep their default action.
        if (!dir_.empty()) ::rmdir(dir_.c_str());
        if (!dir_.empty()) path_.clear();
        return;
    }
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (const int s : kSignals) sigaddset(&action.sa_mask, s);
    for (size_t i = 0; i < 3; ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
    handling_ = true;
}

CancelOnSignal::~CancelOnSignal() {
    if (!handling_) return;
    SignalsHeld held;
    for (size_t i = 0; i < 3; ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
    remove_cancel_file();
    if (g_count > 0) held.keep();
}

}  // namespace orbv_tool
