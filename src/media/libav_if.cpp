// The media interface object: the inputs of a call and the facts they give.
#include "media/libav_if.h"

#include "media/video_length.h"

namespace orbv {

libavIF::libavIF(const char* path1) : path1_(path1), path2_(nullptr) {}

libavIF::libavIF(const char* path1, const char* path2) : path1_(path1), path2_(path2) {}

int32_t libavIF::open_input(int32_t slot) {
    const char* path = slot == 0 ? path1_ : path2_;
    if (path == nullptr) return error_.fail(AVERROR(EINVAL));
    InputSlot opened;
    const int32_t ret = opened.open_container(path);
    if (ret < 0) return error_.fail(ret);
    const Status streams = opened.open_streams(decoder_threads_);
    if (streams.failed()) {
        // A missing stream or decoder is told by its text alone: the code stays as it was.
        if (streams.text != nullptr) {
            error_.fail(0, "%s", streams.text);
        } else {
            error_.fail(streams.code);
        }
        // Every slot opened before goes too.
        close_input();
        return streams.code;
    }
    const AVStream* video = opened.video_stream();
    const AVCodecContext* decoder = opened.video_decoder().get();
    width_ = decoder->width;
    height_ = decoder->height;
    nb_frames_ = video->nb_frames;
    // An unknown stream duration stays unknown rather than becoming a huge negative number.
    duration_ = video->duration == AV_NOPTS_VALUE
                    ? -1.0
                    : static_cast<double>(video->time_base.num) / video->time_base.den *
                          static_cast<double>(video->duration);
    if (!opened.still()) {
        // A movie is as long as players show it, whatever its container states.
        const VideoLength length = movie_length(opened.container(), opened.video_stream());
        duration_ = length.seconds;
        nb_frames_ = length.frames;
    }
    if (const AVStream* audio = opened.audio_stream()) audio_codec_id_ = audio->codecpar->codec_id;
    slots_[slot == 0 ? 0 : 1] = std::move(opened);
    return 0;
}

void libavIF::close_input() {
    for (InputSlot& slot : slots_) slot.close();
}

int32_t libavIF::read_video_frame(AVFrame** frame) {
    *frame = av_frame_alloc();
    if (*frame == nullptr) return error_.fail(AVERROR(ENOMEM));
    InputSlot& slot = slots_[0];
    const int got = slot.next_picture(*frame);
    if (got >= 0) return 0;
    // A failure of the decoder's last pictures at the end of the file leaves an empty frame.
    if (slot.read_to_end()) return 0;
    return error_.fail(got);
}

}  // namespace orbv
