#include "progress.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "system_calls.h"

namespace orbv_tool {

namespace {

double now_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string clock_text(double seconds) {
    const long s = static_cast<long>(std::floor(seconds + 0.5));
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%ld:%02ld", s / 60, s % 60);
    return buf;
}

// The line for `done` of `total` after `elapsed` seconds; a null unit shows no count.
std::string render(int64_t done, int64_t total, const char* unit, double elapsed) {
    constexpr int kWidth = 30;
    const double fraction = total > 0 ? std::min(1.0, static_cast<double>(done) / total) : 0.0;
    const int filled = static_cast<int>(fraction * kWidth);
    char percent[8];
    std::snprintf(percent, sizeof(percent), "%3d%%", static_cast<int>(fraction * 100));
    std::string line =
        "[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "] " + percent;
    if (unit == nullptr) return line;
    line += " " + std::to_string(done) + "/" + std::to_string(total) + " " + unit;
    if (done > 0 && total > done) {
        line += ", " + clock_text(elapsed * (total - done) / done) + " left";
    }
    return line;
}

}  // namespace

void ProgressLine::start(int64_t total, const char* unit) {
    // A still export announces 0 frames: it is one step, done or not.
    unit_ = total > 0 ? unit : nullptr;
    total_ = total > 0 ? total : 1;
    started_ = now_seconds();
    active_ = true;
    update(0);
}

void ProgressLine::update(int64_t done) {
    if (!active_) return;
    done_ = std::min(done, total_);  // a count past the announced total still reads as the total
    const std::string text = render(done_, total_, unit_, now_seconds() - started_);
    if (stderr_is_terminal()) {
        // Spaces wipe what is left of a longer line drawn before.
        const size_t pad = drawn_length_ > text.size() ? drawn_length_ - text.size() : 0;
        std::fprintf(stderr, "\r%s%s", text.c_str(), std::string(pad, ' ').c_str());
        drawn_length_ = text.size();
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    std::fflush(stderr);
}

void ProgressLine::clear() {
    if (drawn_length_ == 0) return;
    std::fprintf(stderr, "\r%s\r", std::string(drawn_length_, ' ').c_str());
    drawn_length_ = 0;
}

void ProgressLine::finish(bool completed) {
    if (!active_) return;
    if (completed && done_ != total_) update(total_);
    if (drawn_length_ > 0) std::fputc('\n', stderr);
    drawn_length_ = 0;
    active_ = false;
}

}  // namespace orbv_tool
