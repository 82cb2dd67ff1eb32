#include "stitch/image_decoder.h"

#include <climits>
#include <memory>

#include "stitch/frame_planes.h"
#include "util/ffmpeg_ptr.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace orbv {
namespace {

// The first picture of the file's best video stream, or null.
FramePtr decode_first_picture(const char* path) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path, nullptr, nullptr) < 0) return nullptr;
    InputFormatPtr input(opened);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) return nullptr;
    const int stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0) return nullptr;
    const AVCodecParameters* parameters = input->streams[stream]->codecpar;
    const AVCodec* codec = find_video_decoder(parameters->codec_id);
    if (codec == nullptr) return nullptr;
    CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), parameters) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return nullptr;
    PacketPtr packet = make_packet();
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame) return nullptr;
    bool draining = false;
    for (;;) {
        const int received = avcodec_receive_frame(decoder.get(), frame.get());
        if (received == 0) return frame;
        if (received != AVERROR(EAGAIN)) return nullptr;  // drained without a picture, or failed
        const int read = av_read_frame(input.get(), packet.get());
        if (read == AVERROR_EOF && !draining) {
            draining = true;
            if (avcodec_send_packet(decoder.get(), nullptr) < 0) return nullptr;
            continue;
        }
        if (read < 0) return nullptr;
        const int sent =
            packet->stream_index == stream ? avcodec_send_packet(decoder.get(), packet.get()) : 0;
        av_packet_unref(packet.get());
        if (sent < 0) return nullptr;
    }
}

}  // namespace

PlaneSet decode_image_planes(const char* path, int32_t target_width) {
    if (path == nullptr || target_width <= 0) return PlaneSet();
    const FramePtr picture = decode_first_picture(path);
    if (!picture || picture->width <= 0 || picture->height <= 0) return PlaneSet();
    const double height = static_cast<double>(target_width) / picture->width * picture->height;
    // Less than one row leaves nothing to scale into.
    if (!(height >= 1.0) || !(height < INT_MAX)) return PlaneSet();

    FramePtr scaled(av_frame_alloc());
    if (!scaled) return PlaneSet();
    scaled->width = target_width;
    scaled->height = static_cast<int>(height);
    scaled->format = AV_PIX_FMT_YUV420P;
    if (av_frame_get_buffer(scaled.get(), 32) < 0) return PlaneSet();
    SwsContextPtr scaler(sws_getContext(
        picture->width, picture->height, static_cast<AVPixelFormat>(picture->format), scaled->width,
        scaled->height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!scaler) return PlaneSet();
    sws_scale(scaler.get(), picture->data, picture->linesize, 0, picture->height, scaled->data,
              scaled->linesize);
    return frame_to_planes(scaled.get());
}

}  // namespace orbv
