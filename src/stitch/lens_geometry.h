#pragma once

#include <cstdint>

#include "stitch/stitch_maps.h"

// The lenses' geometry for the export: the rotation from the host's degrees, the lens radius of
// each camera model and the rolls corrected for the camera's orientation.
namespace orbv {

// The host's degrees in radians: lens1_roll and lens2_roll from the rolls, about_y from the
// Y rotation; about_x and about_z stay 0.
Rotation rotation_from_degrees(int32_t y_rotation_degrees, float lens1_roll_degrees,
                               float lens2_roll_degrees);

// The image-circle radius in pixels of the camera's lens pictures of this width (1440, 1936 or
// 3888); 0 for a width the camera does not make.
double lens_radius_for(int32_t width);

// The lens rolls are given for an upright camera; a camera held otherwise (EXIF orientation 3,
// 6 or 8) turns each lens's picture, lens 1 and lens 2 in opposite directions.
void correct_rolls(int32_t orientation1, int32_t orientation2, Rotation* rotation);

}  // namespace orbv
