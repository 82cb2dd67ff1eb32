#pragma once

#include <cstdint>

namespace orbv {

// The last error of a media job: a code (an FFmpeg AVERROR value, AVERROR_EXIT for the layer's
// own fixed failures and for a cancel, 0 when there is none) and its text, at most 254
// characters. The parts of the media object write into one record; its owner reads it.
class MediaError {
  public:
    int32_t code() const { return code_; }
    const char* text() const { return text_; }

    // The code and FFmpeg's text for it; returns the code.
    int32_t set(int32_t code);
    // The code alone, the text stays; returns the code.
    int32_t set_code(int32_t code) {
        code_ = code;
        return code;
    }
    // The text alone, formatted and cut; the code stays.
    void set_message(const char* format, ...) __attribute__((format(printf, 2, 3)));

  private:
    int32_t code_ = 0;
    char text_[255] = {};
};

}  // namespace orbv
