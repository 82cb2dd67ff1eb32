#include "shot_date.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "system_calls.h"
#include "util/camera_date.h"

namespace orbv_tool {

namespace {

// Seconds from 1904-01-01, where MOV/MP4 times count from, to 1970-01-01.
constexpr int64_t kMovEpochOffset = 2082844800;

uint64_t big_endian(const unsigned char* bytes, int count) {
    uint64_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

// Seeks the atom `type` among the atoms from the stream's position to `end`; leaves the stream
// at its payload and returns the payload's end, or -1 when there is none.
int64_t enter_atom(std::ifstream& in, int64_t end, const char* type) {
    unsigned char header[16];
    for (int64_t at = in.tellg(); at >= 0 && at + 8 <= end;) {
        if (!in.seekg(at).read(reinterpret_cast<char*>(header), 8)) return -1;
        int64_t size = static_cast<int64_t>(big_endian(header, 4));
        int64_t payload = at + 8;
        if (size == 1) {
            if (!in.read(reinterpret_cast<char*>(header + 8), 8)) return -1;
            size = static_cast<int64_t>(big_endian(header + 8, 8));
            payload += 8;
        } else if (size == 0) {
            size = end - at;  // the last atom runs to the end
        }
        if (size < payload - at || at + size > end) return -1;
        if (std::string(reinterpret_cast<char*>(header) + 4, 4) == type) {
            in.seekg(payload);
            return at + size;
        }
        at += size;
    }
    return -1;
}

// moov/mvhd's creation time in Unix seconds; 0 when the file tells none.
int64_t container_creation_time(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary | std::ios::ate);
    if (!in) return 0;
    const int64_t file_end = in.tellg();
    in.seekg(0);
    const int64_t moov_end = enter_atom(in, file_end, "moov");
    if (moov_end < 0 || enter_atom(in, moov_end, "mvhd") < 0) return 0;
    unsigned char head[12];
    if (!in.read(reinterpret_cast<char*>(head), 12)) return 0;
    const uint64_t created = head[0] == 1 ? big_endian(head + 4, 8) : big_endian(head + 4, 4);
    return created > static_cast<uint64_t>(kMovEpochOffset)
               ? static_cast<int64_t>(created) - kMovEpochOffset
               : 0;
}

std::string utc_text(std::time_t seconds) {
    std::tm utc{};
    char buf[32];
    if (!utc_calendar(seconds, &utc) ||
        std::strftime(buf, sizeof(buf), "%Y:%m:%d %H:%M:%S", &utc) == 0)
        return "";
    return buf;
}

}  // namespace

bool is_calendar_date(const std::string& text) {
    return !orbv::camera_date_iso8601(text.c_str()).empty();
}

std::string shot_date(const std::string& analysed_date, const std::string& lens1) {
    if (is_calendar_date(analysed_date)) return analysed_date;
    const int64_t created = container_creation_time(lens1);
    const std::string container = created > 0 ? utc_text(static_cast<std::time_t>(created)) : "";
    return is_calendar_date(container) ? container : utc_text(std::time(nullptr));
}

}  // namespace orbv_tool
