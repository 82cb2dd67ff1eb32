#include "stitch/lens_geometry.h"

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
    rotation->lens1_roll -= turn(orientation1);
    rotation->lens2_roll += turn(orientation2);
}

}  // namespace orbv
