#pragma once

#include <cstdint>

namespace orbv {

// What a step of a media job tells its caller: 0, or the negative code it stopped with and,
// where FFmpeg's text for the code would not say what failed, the layer's own fixed text
// (null: FFmpeg's). Steps return it and never record it; the job records the failure, once.
struct Status {
    int32_t code = 0;
    const char* text = nullptr;

    Status() = default;
    Status(int32_t code_in, const char* text_in = nullptr)  // NOLINT: a bare code is a status
        : code(code_in), text(text_in) {}
    bool failed() const { return code < 0; }
};

// The failure a media job ends with: a code (an FFmpeg AVERROR value, AVERROR_EXIT for the
// layer's own fixed failures and for a cancel, 0 when there is none) and its text, at most 254
// characters. The job writes it, once, from the status its steps return.
// The first failure is the one reported: what fails after it is a consequence.
class MediaError {
  public:
    int32_t code() const { return code_; }
    const char* text() const { return text_; }
    bool failed() const { return failed_; }
    // The job stopped because its caller asked it to.
    bool cancelled() const { return cancelled_; }

    // Records `code` with FFmpeg's text for it; returns the code.
    int32_t fail(int32_t code);
    // Records `code` with the layer's own text, formatted and cut; returns the code.
    int32_t fail(int32_t code, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Records a step's status: its fixed text, else FFmpeg's for its code; returns the code.
    int32_t record(const Status& status);
    // A cancel: AVERROR_EXIT, with the text as it stands (a cancel is no failure to describe).
    int32_t cancel();

  private:
    int32_t code_ = 0;
    bool failed_ = false;
    bool cancelled_ = false;
    char text_[255] = {};
};

}  // namespace orbv
