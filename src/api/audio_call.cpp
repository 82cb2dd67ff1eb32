// ORBV_get_audio: checks the movie and the audio file's location, runs the extraction and
// reports its outcome; the audio file replaces a file at its path only once it is complete.
#include "api/documents.h"
#include "api/front_end.h"
#include "api/host_progress.h"
#include "media/container_rules.h"
#include "media/libav_if.h"
#include "media/sound_extraction.h"
#include "orbv.h"
#include "util/error.h"
#include "util/file_system.h"
#include "util/log.h"

namespace orbv {

// The media work of the extraction: opens the movie, checks its sound and the audio path, and
// writes the track into write_path. 0 with the result document, -1 with an error document; the
// documents name audio_path, the host's.
int32_t _ORBVX_get_audio(const char* movie_path, const char* audio_path, const char* write_path,
                         int32_t bit_rate, const char* cancel_path, int32_t* canceled,
                         Document* document, ProgressCallback callback) {
    log_message(LOG_TRACE, "[_ORBVX_get_audio]");
    try {
        libavIF media(movie_path);
        *canceled = 0;
        if (media.open_input(0) != 0) {
            *document = audio_error_json(movie_path, audio_path, errors::kAudioOpenFailed,
                                         media.errstr(), media.errnum());
            media.close_input();
            return -1;
        }
        if (media.input(0).audio_index() == -1) {
            *document = audio_error_json(movie_path, audio_path, errors::kAudioNoStream,
                                         media.errstr(), media.errnum());
            media.close_input();
            return -1;
        }
        if (audio_path == nullptr) {
            *document =
                audio_error_json(movie_path, nullptr, errors::kAudioPathNull, media.errstr(), -1);
            media.close_input();
            return -1;
        }
        // The line keeps the tag of the writer it has always introduced.
        log_message(LOG_TRACE, "[libavIF::write_audio] begin %s %s %d", or_null(audio_path),
                    or_null(cancel_path), bit_rate);
        AudioProgress progress(callback, cancel_path, movie_path, audio_path);
        const JobOutcome outcome =
            SoundExtraction(media.take_input(0)).write_audio(write_path, bit_rate, progress);
        if (!outcome.failed()) {
            *document = audio_result_json(movie_path, audio_path);
            log_message(LOG_TRACE, "[_ORBVX_get_audio] ok");
            return 0;
        }
        *canceled = outcome.cancelled() ? 1 : 0;
        const MediaError& error = outcome.error;
        *document =
            outcome.cancelled()
                ? audio_error_json(movie_path, audio_path, errors::kAudioCanceled, error.text(), -1)
                : audio_error_json(movie_path, audio_path, errors::kAudioWriteFailed, error.text(),
                                   error.code());
        return -1;
    } catch (const Error& e) {
        *document = audio_error_json(movie_path, audio_path, errors::kAudioUnknown, e.what(), -1);
        return -1;
    }
}

}  // namespace orbv

extern "C" ORBV_API int32_t ORBV_get_audio(const char* movie_path, const char* audio_path,
                                           int32_t bit_rate, const char* cancel_path,
                                           ProgressCallback callback) {
    using namespace orbv;
    auto validate = [&]() -> Document {
        log_message(LOG_TRACE, "[ORBVX_get_audio]");
        if (!file_exists(movie_path))
            return audio_error_json(movie_path, audio_path, errors::kAudioInputMissing, "", -1);
        // Writing onto the movie would destroy it while it is read.
        if (audio_path != nullptr &&
            (!is_writable(audio_path) || same_file(audio_path, movie_path)))
            return audio_error_json(movie_path, audio_path, errors::kAudioNotWritable, "", -1);
        if (audio_path != nullptr && !sound_name_fits(audio_path))
            return audio_error_json(movie_path, audio_path, errors::kAudioNotWritable,
                                    kAudioNameText, -1);
        if (audio_path != nullptr && !has_free_space(audio_path))
            return audio_error_json(movie_path, audio_path, errors::kAudioDiskFull, "", -1);
        return Document();
    };
    return run_front_end<int32_t>(
        audio_path, callback, validate,
        [&](const char* text, int32_t errnum) {
            return audio_error_json(movie_path, audio_path, errors::kAudioNotWritable, text,
                                    errnum);
        },
        [&](Document* document, const char* write_path) {
            int32_t canceled = 0;
            const int32_t result = _ORBVX_get_audio(movie_path, audio_path, write_path, bit_rate,
                                                    cancel_path, &canceled, document, callback);
            log_message(LOG_TRACE, "[ORBVX_get_audio] state = %d", result);
            return CallOutcome{result, canceled != 0};
        },
        [&](const char* text) {
            return audio_error_json(movie_path, audio_path, errors::kAudioUnknown, text, -1);
        });
}
