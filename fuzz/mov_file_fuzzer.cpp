// MovFile on arbitrary files: both reads (a broken top level throws orbv::Error), the parsers
// on what they hand out, and a spherical insertion, which must change nothing when it refuses
// and grow the file by exactly the atom when it succeeds.
#include <cstdint>
#include <cstring>

#include "fuzz_file.h"
#include "metadata/exif_info.h"
#include "metadata/mov_file.h"
#include "metadata/panorama_xml.h"
#include "util/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = orbv_fuzz::scratch_path(".mov");
    orbv_fuzz::write_bytes(path, data, size);
    {
        orbv::MovFile mov(path.c_str(), false);
        const uint8_t* block;
        size_t block_size;
        const char* text;
        try {
            if (mov.exif_data(&block, &block_size) == 0) {
                if (block_size > size) __builtin_trap();
                orbv::ExifInfo info(block, block_size);
            }
            if (mov.xml_data(&text) == 0) {
                if (std::strlen(text) > size) __builtin_trap();
                orbv::OwnedText software, date;
                orbv::parse_panorama_xml(text, &software, &date);
            }
        } catch (const orbv::Error&) {
        }
    }
    {
        const char* xml = "<x>fuzz</x>";
        orbv::MovFile mov(path.c_str(), true);
        const int32_t result = mov.insert_spherical_xml(xml);
        mov.close();
        const std::string after = orbv_fuzz::read_bytes(path);
        const std::string before(reinterpret_cast<const char*>(data), size);
        if (result != 0 && after != before) __builtin_trap();
        if (result == 0 && after.size() != size + std::strlen(xml) + 24) __builtin_trap();
    }
    return 0;
}
