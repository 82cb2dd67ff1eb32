#include "media/input_slot.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "media/file_content.h"
#include "util/file_system.h"

namespace orbv {

namespace {

// A decoder of our own for one input stream: FFmpeg 5 keeps no usable codec context inside
// the stream, so the stream's parameters are copied into a fresh context. A non-zero
// `reduction` asks the decoder for pictures of 1/2^reduction the size (FFmpeg's lowres).
int open_decoder(const AVCodec* codec, const AVStream* stream, int threads, int reduction,
                 CodecContextPtr* out) {
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx) return AVERROR(ENOMEM);
    int ret = avcodec_parameters_to_context(ctx.get(), stream->codecpar);
    if (ret < 0) return ret;
    ctx->pkt_timebase = stream->time_base;
    ctx->thread_count = threads;
    ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    ctx->lowres = reduction;
    ret = avcodec_open2(ctx.get(), codec, nullptr);
    if (ret < 0) return ret;
    *out = std::move(ctx);
    return 0;
}

// A still is one picture of an image codec in an image container (FFmpeg's image2 demuxer or
// one of its *_pipe siblings). A movie is a movie by its container, whatever frame count it
// states: fragmented MP4 and Matroska state none.
bool is_still_picture(const AVFormatContext* fmt, const AVStream* video) {
    const char* name = fmt->iformat ? fmt->iformat->name : "";
    const size_t length = std::strlen(name);
    const bool image_container = std::strcmp(name, "image2") == 0 ||
                                 (length > 5 && std::strcmp(name + length - 5, "_pipe") == 0);
    const AVCodecDescriptor* codec = avcodec_descriptor_get(video->codecpar->codec_id);
    return image_container && codec != nullptr && (codec->props & AV_CODEC_PROP_INTRA_ONLY);
}

// The picture as the readers hand it out: stamped with its best-effort timestamp.
int stamped(AVFrame* frame) {
    frame->pts = frame->best_effort_timestamp;
    return 1;
}

}  // namespace

int32_t InputSlot::open_container(const char* path) {
    close();
    AVFormatContext* raw = nullptr;
    const AVInputFormat* format = nullptr;
    AVDictionary* options = nullptr;
    // FFmpeg's choice of demuxer for a picture depends on its name; a JPEG picture under
    // another name is read by the demuxer a .jpg name would get, so that it gives the same
    // facts. The image demuxer then takes the name as it is, no pattern of numbered files.
    if (!is_jpeg_name(file_extension(path)) && begins_as_jpeg(path) &&
        file_content(path).kind == FileKind::kJpegPicture) {
        format = format_as_jpeg_name(path);
        if (format != nullptr && std::strcmp(format->name, "image2") == 0) {
            raw = avformat_alloc_context();
            if (raw == nullptr) return AVERROR(ENOMEM);
            raw->video_codec_id = AV_CODEC_ID_MJPEG;
            av_dict_set(&options, "pattern_type", "none", 0);
        }
    }
    const int ret = avformat_open_input(&raw, path, format, &options);
    av_dict_free(&options);
    if (ret < 0) return ret;
    container_.reset(raw);
    return 0;
}

Status InputSlot::open_streams(int threads) {
    auto fail = [&](int32_t code) {
        close();
        return Status(code);
    };
    auto fail_message = [&](const char* message) {
        close();
        return Status(AVERROR_EXIT, message);
    };
    AVFormatContext* fmt = container_.get();
    if (fmt == nullptr) return AVERROR(EINVAL);
    const int found = avformat_find_stream_info(fmt, nullptr);
    if (found < 0) return fail(found);

    const int video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0) return fail_message("Not Found Video Stream");
    const int audio = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (audio < 0 && audio != AVERROR_STREAM_NOT_FOUND) {
        return fail_message("Not Found Audio Stream");
    }

    AVStream* vst = fmt->streams[video];
    const AVCodec* video_codec = find_video_decoder(vst->codecpar->codec_id);
    if (video_codec == nullptr) return fail_message("Not Found Video Codec");
    if (threads == kFirstPictureThreads) threads = vst->codecpar->video_delay > 0 ? 0 : 1;
    CodecContextPtr vctx;
    int ret = open_decoder(video_codec, vst, threads, 0, &vctx);
    if (ret < 0) return fail(ret);
    // FFmpeg's image demuxer takes any file named like a picture and reports a stream whose
    // size it could not find; such a stream holds no picture to work with.
    if (vctx->width <= 0 || vctx->height <= 0) return fail(AVERROR_INVALIDDATA);

    CodecContextPtr actx;
    if (audio >= 0) {
        const AVStream* ast = fmt->streams[audio];
        const AVCodec* audio_codec = avcodec_find_decoder(ast->codecpar->codec_id);
        if (audio_codec == nullptr) return fail(AVERROR_DECODER_NOT_FOUND);
        ret = open_decoder(audio_codec, ast, 1, 0, &actx);
        if (ret < 0) return fail(ret);
    }

    video_ = VideoDecoder(std::move(vctx));
    audio_ = std::move(actx);
    video_index_ = video;
    audio_index_ = audio >= 0 ? audio : -1;
    still_ = is_still_picture(fmt, vst);
    return 0;
}

void InputSlot::close() {
    video_.reset();
    audio_.reset();
    container_.reset();
    read_to_end_ = false;
}

AVStream* InputSlot::video_stream() const {
    return container_ && video_index_ >= 0 ? container_->streams[video_index_] : nullptr;
}

AVStream* InputSlot::audio_stream() const {
    return container_ && audio_index_ >= 0 ? container_->streams[audio_index_] : nullptr;
}

AVRational InputSlot::video_time_base() const {
    const AVStream* stream = video_stream();
    return stream ? stream->time_base : AVRational{0, 1};
}

int InputSlot::read_packet(AVPacket* packet) {
    if (!container_) return AVERROR(EINVAL);
    const int ret = av_read_frame(container_.get(), packet);
    if (ret == AVERROR_EOF) read_to_end_ = true;
    return ret;
}

int InputSlot::next_picture(AVFrame* frame) {
    if (!container_ || !video_) return AVERROR(EINVAL);
    PacketPtr packet = make_packet();
    if (!packet) return AVERROR(ENOMEM);
    for (;;) {
        if (video_.take_picture(frame) == 1) return stamped(frame);
        if (video_.finished()) return 0;
        const int ret = read_packet(packet.get());
        if (ret == AVERROR_EOF) {
            // The end of the file releases what the decoder still holds, whichever stream
            // index the video has.
            const int drained = video_.drain();
            if (drained < 0) return drained;
            return video_.take_picture(frame) == 1 ? stamped(frame) : 0;
        }
        if (ret < 0) return ret;
        const int sent =
            packet->stream_index == video_index_ ? video_.send_packet(packet.get()) : 0;
        av_packet_unref(packet.get());
        if (sent < 0) return sent;
    }
}

int InputSlot::next_picture_reduced(int reduction, AVFrame* frame) {
    if (reduction <= 0) return next_picture(frame);
    if (!container_ || !video_) return AVERROR(EINVAL);
    PacketPtr packet = make_packet();
    if (!packet) return AVERROR(ENOMEM);
    int ret = read_packet(packet.get());
    for (; ret >= 0 && packet->stream_index != video_index_; ret = read_packet(packet.get())) {
        av_packet_unref(packet.get());
    }
    if (ret == AVERROR_EOF) return next_picture(frame);
    if (ret < 0) return ret;
    // The packet is the whole picture of a still. The reduced decoder lives for this picture
    // only, so the slot's own decoder keeps describing the file.
    CodecContextPtr context;
    if (open_decoder(video_->codec, video_stream(), 1, reduction, &context) >= 0) {
        VideoDecoder reduced(std::move(context));
        if (reduced.send_packet(packet.get()) >= 0 && reduced.drain() >= 0 &&
            reduced.take_picture(frame) == 1) {
            return stamped(frame);
        }
    }
    // A picture the reduced decoder refuses (lossless JPEG has no reduced decoding) is
    // decoded at full size, with the full decoder's outcome.
    const int sent = video_.send_packet(packet.get());
    if (sent < 0) return sent;
    return next_picture(frame);
}

double InputSlot::picture_origin() const {
    const AVStream* stream = video_stream();
    if (stream == nullptr || stream->start_time == AV_NOPTS_VALUE) return 0;
    return av_q2d(stream->time_base) * static_cast<double>(stream->start_time);
}

double InputSlot::video_duration() const {
    const AVStream* stream = video_stream();
    if (stream == nullptr) return 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        return av_q2d(stream->time_base) * static_cast<double>(stream->duration);
    const AVFormatContext* fmt = container_.get();
    if (fmt->duration == AV_NOPTS_VALUE || fmt->duration <= 0) return 0;
    const double first = fmt->start_time != AV_NOPTS_VALUE ? fmt->start_time / 1e6 : 0.0;
    return std::max(fmt->duration / 1e6 + first - picture_origin(), 0.0);
}

void InputSlot::seek(double seconds) {
    const AVRational tb = video_time_base();
    const int64_t target =
        static_cast<int64_t>(std::floor((picture_origin() + seconds) * tb.den / tb.num));
    av_seek_frame(container_.get(), video_index_, target, AVSEEK_FLAG_BACKWARD);
    video_.flush();
    if (audio_) avcodec_flush_buffers(audio_.get());
    read_to_end_ = false;
}

}  // namespace orbv
