#include "api/export_arithmetic.h"

#include "util/numbers.h"

namespace orbv {

Rotation rotation_from_degrees(int32_t y_rotation_degrees, float lens1_roll_degrees,
                               float lens2_roll_degrees) {
    return {lens1_roll_degrees * kPi / 180.0, lens2_roll_degrees * kPi / 180.0, 0.0, 0.0,
            y_rotation_degrees * kPi / 180.0};
}

double lens_radius_for(int32_t width) {
    switch (width) {
        case 1440:
            return 675.0;
        case 1936:
            return 907.0;
        case 3888:
            return 1821.0;
        default:
            return 0.0;
    }
}

void correct_rolls(int32_t orientation1, int32_t orientation2, Rotation* rotation) {
    auto turn = [](int32_t orientation) {
        switch (orientation) {
            case 3:
                return kPi;
            case 6:
                return kHalfPi;
            case 8:
                return kThreeHalfPi;
            default:
                return 0.0;
        }
    };
    (*rotation)[0] -= turn(orientation1);
    (*rotation)[1] += turn(orientation2);
}

int64_t frames_in_window(int32_t num, int32_t den, int64_t nb_frames, float start_time,
                         float end_time) {
    const float fden = static_cast<float>(den);
    const float fnum = static_cast<float>(num);
    const int32_t start = truncate_to_int32(fden * start_time / fnum / 1001.0f);
    int64_t end = truncate_to_int32(fden * end_time / fnum / 1001.0f);
    if (static_cast<uint64_t>(end) > static_cast<uint64_t>(nb_frames)) end = nb_frames;
    return end - start;
}

int64_t frames_to_export(int64_t count1, int64_t count2) {
    if (count2 == 0) return count1;
    if (count1 == 0) return count2;
    return static_cast<uint64_t>(count1) < static_cast<uint64_t>(count2) ? count1 : count2;
}

}  // namespace orbv
