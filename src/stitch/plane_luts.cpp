#include "stitch/plane_luts.h"

#include <cstring>

namespace orbv {

PlaneLuts make_plane_luts(std::optional<int32_t> y_offset, std::optional<int32_t> u_offset,
                          std::optional<int32_t> v_offset) {
    PlaneLuts luts;
    std::memset(&luts, 0, sizeof luts);
    const std::optional<int32_t> offsets[3] = {y_offset, u_offset, v_offset};
    for (int p = 0; p < 3; ++p) {
        if (!offsets[p]) continue;
        // An offset of 0 changes nothing: its plane is left as it is, spared the table.
        luts.planes[p].enabled = *offsets[p] != 0 ? 1 : 0;
        for (int i = 0; i < 256; ++i) {
            // In 64 bits: an offset near the int32 limits must saturate, not wrap.
            const int64_t value = static_cast<int64_t>(*offsets[p]) + i;
            luts.planes[p].table[i] =
                static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
        }
    }
    return luts;
}

}  // namespace orbv
