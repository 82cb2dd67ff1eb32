#pragma once

#include <cstdint>

namespace orbv {

// The failure a media job ends with: a code (an FFmpeg AVERROR value, AVERROR_EXIT for the
// layer's own fixed failures and for a cancel, 0 when there is none) and its text, at most 254
// characters. The step that fails writes it, once; the steps above it only pass the code on.
// The first failure is the one reported: what fails after it is a consequence.
class MediaError {
  public:
    int32_t code() const { return code_; }
    const char* text() const { return text_; }
    bool failed() const { return failed_; }

    // Records `code` with FFmpeg's text for it; returns the code.
    int32_t fail(int32_t code);
    // Records `code` with the layer's own text, formatted and cut; returns the code.
    int32_t fail(int32_t code, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // A cancel: AVERROR_EXIT, with the text as it stands (a cancel is no failure to describe).
    int32_t cancel();

  private:
    int32_t code_ = 0;
    bool failed_ = false;
    char text_[255] = {};
};

}  // namespace orbv
