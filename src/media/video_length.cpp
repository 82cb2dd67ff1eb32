#include "media/video_length.h"

#include <cmath>

namespace orbv {

namespace {

double movie_seconds(const AVFormatContext* container, const AVStream* video) {
    if (video->duration != AV_NOPTS_VALUE) return av_q2d(video->time_base) * video->duration;
    if (container->duration != AV_NOPTS_VALUE) {
        return static_cast<double>(container->duration) / AV_TIME_BASE;
    }
    return -1.0;
}

// The samples the container counts, less those its edit list leaves unshown. The demuxer keeps
// the index in memory once the file is open, so this reads nothing; an index that holds other
// than every sample says nothing about the edit.
int64_t shown_samples(AVStream* video) {
    const int entries = avformat_index_get_entries_count(video);
    if (entries != video->nb_frames) return video->nb_frames;
    int64_t shown = 0;
    for (int i = 0; i < entries; ++i) {
        if (!(avformat_index_get_entry(video, i)->flags & AVINDEX_DISCARD_FRAME)) ++shown;
    }
    return shown;
}

}  // namespace

VideoLength movie_length(const AVFormatContext* container, AVStream* video) {
    VideoLength length;
    length.seconds = movie_seconds(container, video);
    if (video->nb_frames > 0) {
        length.frames = shown_samples(video);
        return length;
    }
    AVRational rate = video->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = video->r_frame_rate;
    if (length.seconds > 0 && rate.num > 0 && rate.den > 0) {
        length.frames = std::llround(length.seconds * av_q2d(rate));
    }
    return length;
}

}  // namespace orbv
