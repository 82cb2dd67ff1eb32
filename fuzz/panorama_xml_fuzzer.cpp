// parse_panorama_xml on arbitrary texts.
#include <cstdint>
#include <cstring>
#include <string>

#include "metadata/panorama_xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy
    orbv::OwnedText software, date;
    const int32_t result = orbv::parse_panorama_xml(text.c_str(), &software, &date);
    // A result other than -1 comes only with a software text.
    if ((result == -1) != (software == nullptr)) __builtin_trap();
    if (result == 0 && std::strncmp(software.get(), "VELORA360Viewer", 15) != 0) __builtin_trap();
    return 0;
}
