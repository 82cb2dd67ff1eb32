#include "progress.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace orbv_tool {

namespace {

double now_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string clock_text(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%ld:%02ld", s / 60, s % 60);
    return buf;
}

// The signal handler may only use async-signal-safe calls: it keeps the path in a fixed buffer.
char g_cancel_path[4096];
struct sigaction g_previous_action;

void on_interrupt(int) {
    const int fd = ::open(g_cancel_path, O_CREAT | O_WRONLY, 0644);
    if (fd >= 0) ::close(fd);
    static const char note[] = "\norbv: cancelling (Ctrl-C again to stop at once)\n";
    (void)!::write(STDERR_FILENO, note, sizeof(note) - 1);
    ::sigaction(SIGINT, &g_previous_action, nullptr);
}

}  // namespace

void ProgressBar::start(int64_t total) {
    total_ = total;
    started_ = now_seconds();
    update(0);
}

void ProgressBar::update(int64_t done) {
    const std::string text = render(done, total_, now_seconds() - started_);
    if (::isatty(STDOUT_FILENO)) {
        std::printf("\r%s", text.c_str());
        drawn_ = true;
    } else {
        std::printf("%s\n", text.c_str());
    }
    std::fflush(stdout);
}

void ProgressBar::finish() {
    if (drawn_) std::printf("\n");
    drawn_ = false;
}

std::string ProgressBar::render(int64_t done, int64_t total, double elapsed) {
    constexpr int kWidth = 30;
    const double fraction = total > 0 ? std::min(1.0, static_cast<double>(done) / total) : 0.0;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string bar = "[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "] ";
    bar += std::to_string(done) + "/" + std::to_string(total) + " frames";
    if (done > 0 && total > done) {
        bar += ", " + clock_text(elapsed * (total - done) / done) + " left";
    }
    return bar;
}

CancelOnInterrupt::CancelOnInterrupt(const std::string& cancel_path) : path_(cancel_path) {
    if (path_.empty()) {
        path_ =
            (std::filesystem::temp_directory_path() / ("orbv-cancel-" + std::to_string(::getpid())))
                .string();
        owned_ = true;
    }
    if (path_.size() >= sizeof(g_cancel_path)) return;  // too long to hand to the handler
    std::snprintf(g_cancel_path, sizeof(g_cancel_path), "%s", path_.c_str());
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &g_previous_action);
}

CancelOnInterrupt::~CancelOnInterrupt() {
    ::signal(SIGINT, SIG_DFL);
    if (owned_) ::unlink(path_.c_str());
}

}  // namespace orbv_tool
