#pragma once

// The one way tests make the 23-argument ORBV_export call: every argument at its neutral default,
// so that a test names only what it changes.
#include <string>

#include "orbv.h"

namespace orbv_test {

constexpr char kNull[] = "<null>";  // a path given as a null pointer
constexpr int32_t kKeep = ORBV_OFFSET_UNCHANGED;

inline const char* path_arg(const std::string& path) {
    return path == kNull ? nullptr : path.c_str();
}

struct ExportArgs {
    std::string in1, in2, out, band = kNull;
    int32_t width = 64, height = 32, yaw = 0;
    float roll1 = 0, roll2 = 0;
    int32_t offsets1[3] = {kKeep, kKeep, kKeep}, offsets2[3] = {kKeep, kKeep, kKeep};
    float start1 = 0, start2 = 0, end1 = -1, end2 = -1;
    int32_t audio_input = 0;
    std::string datetime = "2024:05:17 10:30:00", cancel = kNull;
};

inline int32_t run_export(const ExportArgs& a, ProgressCallback callback) {
    return ORBV_export(path_arg(a.in1), path_arg(a.in2), path_arg(a.out), path_arg(a.band), a.width,
                       a.height, a.yaw, a.roll1, a.roll2, a.offsets1[0], a.offsets1[1],
                       a.offsets1[2], a.offsets2[0], a.offsets2[1], a.offsets2[2], a.start1,
                       a.start2, a.end1, a.end2, a.audio_input, a.datetime.c_str(),
                       path_arg(a.cancel), callback);
}

// A call of one family with the same arguments and its result: '1' analyses in1 with a 32-pixel
// thumbnail at out (written whatever the camera), '2' extracts in1's sound to out, '3' exports.
inline int64_t call_family(char family, const ExportArgs& a, ProgressCallback callback) {
    if (family == '1') return ORBV_analyze_image(path_arg(a.in1), path_arg(a.out), 32, 1, callback);
    if (family == '2') {
        return ORBV_get_audio(path_arg(a.in1), path_arg(a.out), 0, path_arg(a.cancel), callback);
    }
    return run_export(a, callback);
}

}  // namespace orbv_test
