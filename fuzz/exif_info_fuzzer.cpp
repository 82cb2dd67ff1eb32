// ExifInfo on arbitrary blocks: every read must stay inside the block.
#include <cstdint>
#include <cstring>
#include <memory>

#include "metadata/exif_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact heap copy, so that AddressSanitizer sees the block's end.
    std::unique_ptr<uint8_t[]> block(new uint8_t[size > 0 ? size : 1]);
    if (size > 0) std::memcpy(block.get(), data, size);
    orbv::ExifInfo info(block.get(), size);
    if (info.maker && std::strlen(info.maker.get()) > size) __builtin_trap();
    return 0;
}
