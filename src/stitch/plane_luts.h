#pragma once

#include <cstdint>

namespace orbv {

// An offset with this value leaves its plane unchanged.
constexpr int32_t kOffsetUnchanged = -99999999;

// The colour table of one plane: 257 bytes.
struct PlaneTable {
    uint8_t table[256];  // new value for each old value
    uint8_t enabled;     // 1: apply, 0: leave the plane as it is
};

// The colour tables of one lens, for Y, U and V in that order: 771 bytes, copied by value.
struct PlaneLuts {
    PlaneTable planes[3];
};
static_assert(sizeof(PlaneTable) == 257 && sizeof(PlaneLuts) == 771, "table layout");

// Tables that add each offset to its plane with saturation; kOffsetUnchanged disables a plane.
PlaneLuts make_plane_luts(int32_t y_offset, int32_t u_offset, int32_t v_offset);

}  // namespace orbv
