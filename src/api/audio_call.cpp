// ORBV_get_audio: checks the movie and the audio file's location, runs the extraction and
// reports its outcome; a failed audio file is removed.
#include "api/boundary.h"
#include "api/documents.h"
#include "orbv.h"
#include "util/file_system.h"
#include "util/log.h"

namespace orbv {

// The media work of the extraction. Not built yet: answers that the movie cannot be opened.
int32_t _ORBVX_get_audio(const char* movie_path, const char* audio_path, int32_t /*bit_rate*/,
                         const char* /*cancel_path*/, int32_t* canceled, Document* document,
                         ProgressCallback /*callback*/) {
    log_message(LOG_TRACE, "[_ORBVX_get_audio]");
    *canceled = 0;
    *document = audio_error_json(movie_path, audio_path, errors::kAudioOpenFailed,
                                 "audio extraction not available", -1);
    return -1;
}

}  // namespace orbv

extern "C" ORBV_API int32_t ORBV_get_audio(const char* movie_path, const char* audio_path,
                                           int32_t bit_rate, const char* cancel_path,
                                           ProgressCallback callback) {
    using namespace orbv;
    return run_guarded(
        [&]() -> int32_t {
            log_message(LOG_TRACE, "[ORBVX_get_audio]");
            int32_t canceled = 0;
            Document document;
            int32_t result = -1;
            if (!file_exists(movie_path)) {
                document = audio_error_json(movie_path, audio_path, errors::kAudioInputMissing,
                                            "", -1);
            } else if (audio_path != nullptr && !is_writable(audio_path)) {
                document = audio_error_json(movie_path, audio_path, errors::kAudioNotWritable,
                                            "", -1);
            } else if (audio_path != nullptr && !has_free_space(audio_path)) {
                document =
                    audio_error_json(movie_path, audio_path, errors::kAudioDiskFull, "", -1);
            } else {
                result = _ORBVX_get_audio(movie_path, audio_path, bit_rate, cancel_path,
                                          &canceled, &document, callback);
                log_message(LOG_TRACE, "[ORBVX_get_audio] state = %d", result);
                if (result != 0) remove_file(audio_path);
            }
            const int32_t state =
                result >= 0 ? STATE_DONE : (canceled ? STATE_CANCELED : STATE_FAILED);
            deliver(callback, state, std::move(document));
            return 0;
        },
        [&](const char* text) -> int32_t {
            remove_file(audio_path);
            return report_thrown(callback, [&] {
                return audio_error_json(movie_path, audio_path, errors::kAudioUnknown, text, -1);
            });
        });
}
