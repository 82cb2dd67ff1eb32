// The whole analysis on arbitrary files, as the host calls it: ORBV_analyze_image on a file
// named .jpg (when it starts like a JPEG) or .mov, without a thumbnail, with one for any file,
// or with one for the camera's files only (chosen by the input's length). Whatever the file,
// the call must answer with exactly one final document, of the analysis family when it fails,
// and leave a thumbnail only when it says it made one.
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_file.h"
#include "orbv.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace {

int g_finals = 0;
int g_others = 0;
int32_t g_state = -1;
std::string g_document;

void record(int32_t state, const char* json) {
    if (state >= STATE_DONE) {
        ++g_finals;
        g_state = state;
        g_document = json != nullptr ? json : "";
    } else {
        ++g_others;
    }
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    // A mutated header may claim a picture of 65535 x 65535; FFmpeg would then ask for
    // gigabytes, which says nothing about this library. Its own limit turns that into an error.
    av_max_alloc(64 << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string jpeg_path = orbv_fuzz::scratch_file("input.jpg");
    static const std::string movie_path = orbv_fuzz::scratch_file("input.mov");
    static const std::string thumbnail = orbv_fuzz::scratch_file("thumbnail.jpg");
    const bool jpeg = size >= 2 && data[0] == 0xFF && data[1] == 0xD8;
    const std::string& path = jpeg ? jpeg_path : movie_path;
    orbv_fuzz::write_bytes(path, data, size);
    std::remove(thumbnail.c_str());

    const int mode = static_cast<int>(size % 3);
    const char* thumb = mode == 0 ? nullptr : thumbnail.c_str();
    g_finals = g_others = 0;
    g_state = -1;
    g_document.clear();
    const int64_t result =
        ORBV_analyze_image(path.c_str(), thumb, mode == 1 ? 16 : 0, mode == 1 ? 1 : 0, &record);

    if (g_finals != 1 || g_others != 0) __builtin_trap();
    if (result != 0 && result != -1) __builtin_trap();
    if (g_state == STATE_DONE) {
        if (has(g_document, "\"errnum\"") || !has(g_document, jpeg ? "\"JPEG\"" : "\"MOVIE\""))
            __builtin_trap();
        const bool created = has(g_document, "\"createdThumbnail\":true");
        if (created != (thumb != nullptr && exists(thumbnail))) __builtin_trap();
    } else {
        if (g_state != STATE_FAILED || g_document.compare(0, 11, "{\"errnum\":\"") != 0 ||
            g_document[11] != '1')
            __builtin_trap();
        if (exists(thumbnail)) __builtin_trap();  // a failed analysis leaves no thumbnail
    }
    std::remove(thumbnail.c_str());
    return 0;
}
