#pragma once

#include <cstdint>
#include <vector>

#include "api/documents.h"
#include "media/progress_reporter.h"
#include "orbv.h"

namespace orbv {

// What the host sees of a long job: at every report point (every `interval_` units, 10 until
// the job's size is announced) a progress document when it gave a callback, and right after it
// the test for the cancel file, with or without a callback.
class HostProgress : public ProgressReporter {
  public:
    HostProgress(ProgressCallback callback, const char* cancel_path);
    bool report(int32_t done) override;

  protected:
    // The state-1 document for `done` units, into `buffer` (DOCUMENT_SIZE bytes).
    virtual void format_progress(char* buffer, int32_t done) const = 0;

    ProgressCallback callback_;
    int32_t interval_;

  private:
    const char* cancel_path_;
    std::vector<char> buffer_;  // reused for every progress document
};

// The export's progress: the pairs of pictures converted. The front end announces the frames
// to export before the loop: the start document, and the interval for that count.
class ExportProgress final : public HostProgress {
  public:
    ExportProgress(ProgressCallback callback, const char* cancel_path, const char* movie_path1,
                   const char* movie_path2, const char* export_path);
    void announce(int64_t total) override;

  private:
    void format_progress(char* buffer, int32_t done) const override;
    const char* movie_path1_;
    const char* movie_path2_;
    const char* export_path_;
};

// The audio extraction's progress: the audio packets read. The announced total brings the
// start document and the interval for it; without a callback the interval stays 10.
class AudioProgress final : public HostProgress {
  public:
    AudioProgress(ProgressCallback callback, const char* cancel_path, const char* movie_path,
                  const char* audio_path);
    void announce(int64_t total) override;

  private:
    void format_progress(char* buffer, int32_t done) const override;
    const char* movie_path_;
    const char* audio_path_;
};

}  // namespace orbv
