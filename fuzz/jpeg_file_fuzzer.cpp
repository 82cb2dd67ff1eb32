// JpegFile on arbitrary files: both reads, the EXIF and XMP parsers on what they hand out, and
// an XMP insertion, which must change nothing when it refuses.
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_file.h"
#include "metadata/exif_info.h"
#include "metadata/jpeg_file.h"
#include "metadata/panorama_xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = orbv_fuzz::scratch_path(".jpg");
    orbv_fuzz::write_bytes(path, data, size);
    {
        orbv::JpegFile jpeg(path.c_str(), false);
        const uint8_t* block;
        size_t block_size;
        const char* text;
        if (jpeg.exif_data(&block, &block_size) == 0) {
            if (block_size > size) __builtin_trap();
            orbv::ExifInfo info(block, block_size);
        }
        if (jpeg.xmp_data(&text) == 0) {
            if (std::strlen(text) > size) __builtin_trap();
            orbv::OwnedText software, date;
            orbv::parse_panorama_xml(text, &software, &date);
        }
    }
    {
        orbv::JpegFile jpeg(path.c_str(), true);
        const int32_t result = jpeg.insert_xmp("<x>fuzz</x>");
        jpeg.close();
        const std::string after = orbv_fuzz::read_bytes(path);
        const std::string before(reinterpret_cast<const char*>(data), size);
        if (result != 0 && after != before) __builtin_trap();
        if (result == 0 && (after.size() != size + 11 + 35 ||
                            after.compare(after.size() - (size - 2), size - 2, before, 2) != 0))
            __builtin_trap();
    }
    return 0;
}
