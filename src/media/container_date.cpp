#include "media/container_date.h"

#include "util/iso_date.h"

namespace orbv {

namespace {

const char* metadata_text(const AVFormatContext* container, const char* key) {
    const AVDictionaryEntry* entry = av_dict_get(container->metadata, key, nullptr, 0);
    return entry ? entry->value : nullptr;
}

}  // namespace

std::string container_date(const AVFormatContext* container) {
    if (container == nullptr) return "";
    // The phone writes the moment of capture with the zone it was taken in; its clock time is
    // what the camera's own date would show.
    std::string date =
        camera_date_as_written(metadata_text(container, "com.apple.quicktime.creationdate"));
    if (date.empty()) date = camera_date_in_utc(metadata_text(container, "creation_time"));
    return date;
}

}  // namespace orbv
