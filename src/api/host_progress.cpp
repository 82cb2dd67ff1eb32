#include "api/host_progress.h"

#include "api/progress_interval.h"
#include "util/file_system.h"

namespace orbv {

HostProgress::HostProgress(ProgressCallback callback, const char* cancel_path)
    : callback_(callback), interval_(10), cancel_path_(cancel_path), buffer_(DOCUMENT_SIZE) {}

bool HostProgress::report(int32_t done) {
    if (interval_ <= 0 || done % interval_ != 0) return false;
    if (callback_ != nullptr) {
        format_progress(buffer_.data(), done);
        callback_(STATE_PROGRESS, buffer_.data());
    }
    return file_exists(cancel_path_);
}

ExportProgress::ExportProgress(ProgressCallback callback, const char* cancel_path,
                               const char* movie_path1, const char* movie_path2,
                               const char* export_path)
    : HostProgress(callback, cancel_path),
      movie_path1_(movie_path1),
      movie_path2_(movie_path2),
      export_path_(export_path) {}

void ExportProgress::announce(int64_t total) {
    interval_ = progress_interval(total);
    if (callback_ == nullptr) return;
    deliver(callback_, STATE_START,
            export_result_json(movie_path1_, movie_path2_, export_path_, STATE_START, total));
}

void ExportProgress::format_progress(char* buffer, int32_t done) const {
    format_export_progress(buffer, movie_path1_, movie_path2_, export_path_, done);
}

AudioProgress::AudioProgress(ProgressCallback callback, const char* cancel_path,
                             const char* movie_path, const char* audio_path)
    : HostProgress(callback, cancel_path), movie_path_(movie_path), audio_path_(audio_path) {}

void AudioProgress::announce(int64_t total) {
    if (callback_ == nullptr) return;
    deliver(callback_, STATE_START, audio_start_json(movie_path_, audio_path_, total));
    interval_ = progress_interval(total);
}

void AudioProgress::format_progress(char* buffer, int32_t done) const {
    format_audio_progress(buffer, movie_path_, audio_path_, done);
}

}  // namespace orbv
