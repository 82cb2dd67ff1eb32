#pragma once

#include <cstdint>
#include <optional>

namespace orbv {

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

// Tables that add each offset to its plane with saturation; no offset, or 0, disables a plane.
PlaneLuts make_plane_luts(std::optional<int32_t> y_offset, std::optional<int32_t> u_offset,
                          std::optional<int32_t> v_offset);

}  // namespace orbv
