/*
 * orbv: media library for the desktop viewer of a dual-lens 360-degree camera.
 *
 * Every path is a NUL-terminated UTF-8 string. Outcomes reach the host only through the
 * callback, as JSON documents; return values say nothing about success.
 *
 * Ownership: a document passed to the callback is owned by the library and is valid only
 * for the duration of that callback. Copy what you need; never free it.
 *
 * Threading: the library starts no threads of its own and keeps no state between calls.
 * Every callback of a call arrives on the caller's thread before the call returns.
 * Separate calls may run on separate threads.
 *
 * Cancellation: export and audio extraction stop at their next progress point once a file
 * exists at the cancel path given with the call.
 */
#ifndef ORBV_H
#define ORBV_H

#include <stdint.h>

/* The version of this interface; liborbv.so.MAJOR is its soname. The build reads these
 * three lines, so they are the one place the version is set. */
#define ORBV_VERSION_MAJOR 0
#define ORBV_VERSION_MINOR 1
#define ORBV_VERSION_PATCH 0

/* On Windows the DLL exports the four functions and a host imports them from orbv.dll;
 * elsewhere they are the shared object's only visible symbols. */
#if defined(_WIN32) && defined(ORBV_BUILDING_DLL)
#define ORBV_API __declspec(dllexport)
#elif defined(_WIN32)
#define ORBV_API __declspec(dllimport)
#elif defined(__GNUC__)
#define ORBV_API __attribute__((visibility("default")))
#else
#define ORBV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Callback states. Each analysis, export and audio extraction ends with exactly one of
 * STATE_DONE, STATE_CANCELED or STATE_FAILED; exports and audio extractions send
 * STATE_START once and STATE_PROGRESS periodically before that. */
enum { STATE_START = 0, STATE_PROGRESS = 1, STATE_DONE = 2, STATE_CANCELED = 3, STATE_FAILED = 4 };

/* The library never reads a result from the callback. A null callback is allowed. */
typedef void (*ProgressCallback)(int32_t state, const char* json);

/* Analyses a JPEG still or a MOV/MP4 movie; optionally writes a JPEG thumbnail
 * (thumbnail_width 0: the source width; writeFlag nonzero: write it even for files not
 * from the supported camera). Returns 0, or -1 after an unexpected failure was reported. */
ORBV_API int64_t ORBV_analyze_image(const char* movie_path, const char* thumbnail_path,
                                    uint32_t thumbnail_width, uint32_t writeFlag,
                                    ProgressCallback callback);

/* A colour offset of this value leaves its plane unchanged. */
#define ORBV_OFFSET_UNCHANGED (-99999999)

/* Exports the two lens files of one shot (two movies, or two JPEG stills) as one
 * equirectangular panorama. Offsets of ORBV_OFFSET_UNCHANGED leave a colour plane
 * unchanged; audio_input 0 takes the sound of input 1, 1 that of input 2. Start and end
 * times are seconds from each movie's first picture, both inclusive (0 and -1: the whole
 * movie); the panorama keeps the movies' frame rate. */
ORBV_API int32_t ORBV_export(
    const char* movie_path1, const char* movie_path2, const char* export_path,
    const char* band_image_path, int32_t output_width, int32_t output_height,
    int32_t y_rotation_degrees, float lens1_roll_degrees, float lens2_roll_degrees,
    int32_t y_offset1, int32_t u_offset1, int32_t v_offset1, int32_t y_offset2, int32_t u_offset2,
    int32_t v_offset2, float start_time1, float start_time2, float end_time1, float end_time2,
    int32_t audio_input, const char* datetime, const char* cancel_path, ProgressCallback callback);

/* Writes the sound track of a movie in stereo into the container named by audio_path's
 * extension: AAC in .m4a and .mp4, MP3 in .mp3, Opus in .opus and .ogg (for these bit_rate 0
 * means 192 kb/s), FLAC in .flac, 16-bit PCM in .wav, .mov and the other containers FFmpeg
 * can write PCM into (bit_rate 0: the source's). Any other name, or one whose encoder the
 * build lacks, is refused before any work. */
ORBV_API int32_t ORBV_get_audio(const char* movie_path, const char* audio_path, int32_t bit_rate,
                                const char* cancel_path, ProgressCallback callback);

/* Free bytes of the volume holding path (a directory, or a file's directory); -1 when
 * unknown. */
ORBV_API int64_t ORBV_freesize(const char* path);

#ifdef __cplusplus
}
#endif

#endif /* ORBV_H */
