#include "media/output_file.h"

#include <cmath>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "media/container_rules.h"

namespace orbv {

namespace {

// FFmpeg's -q:v 2, the finest quantiser its Motion-JPEG encoder takes by default: IJG quality 94.
constexpr int kStillQuantiser = 2;

// The encoder settings of the video stream, in the order the stream's parameters are set.
void set_video_encoder(AVCodecContext* enc, const AVCodec* codec, int32_t codec_id,
                       const AVCodecContext* source, const AVRational source_tb,
                       const FrameClock& clock) {
    enc->codec_id = static_cast<AVCodecID>(codec_id);
    enc->bit_rate = video_bit_rate(enc->width, enc->height, source);
    if (codec_id == AV_CODEC_ID_H264) {
        // The encoder reads frame timestamps in its own time base, so it gets the output's
        // clock and the frame rate is stated.
        enc->time_base = clock.time_base;
        enc->framerate = clock.rate;
        enc->pix_fmt = AV_PIX_FMT_YUV420P;
        enc->thread_count = 0;  // the encoder chooses from the cores, as the ffmpeg program does
    } else {
        enc->time_base = AVRational{1001, source_tb.den};
        if (codec_id == AV_CODEC_ID_MJPEG) {
            enc->pix_fmt = AV_PIX_FMT_YUVJ420P;
            // A still keeps its lenses' quality (about 94 by the IJG scale) at a fixed
            // quantiser; the bit rate would squeeze one picture to about 61.
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = kStillQuantiser * FF_QP2LAMBDA;
        } else {
            enc->pix_fmt = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
        }
    }
}

}  // namespace

int64_t video_bit_rate(int32_t width, int32_t height, const AVCodecContext* source) {
    return static_cast<int64_t>(std::floor(static_cast<double>(width) / source->width *
                                           static_cast<double>(source->bit_rate) *
                                           (static_cast<double>(height) / source->height)));
}

int OutputFile::create(const char* path, const char* fallback) {
    close();
    AVFormatContext* raw = nullptr;
    int ret = avformat_alloc_output_context2(&raw, nullptr, nullptr, path);
    if (raw == nullptr && fallback != nullptr) {
        ret = avformat_alloc_output_context2(&raw, nullptr, fallback, path);
    }
    if (raw == nullptr) return ret < 0 ? ret : AVERROR(ENOMEM);
    container_.reset(raw);
    // The image muxer would read a '%d' in the path as a sequence pattern and write another
    // file: a picture goes to exactly the given path. Other muxers have no such option, and
    // the private data of a muxer without an option class (srt, for one) is no AVClass object.
    if (raw->oformat->priv_class != nullptr && raw->priv_data != nullptr) {
        av_opt_set_int(raw->priv_data, "update", 1, 0);
    }
    return 0;
}

Status OutputFile::new_stream(AVCodecID codec_id, const char* no_encoder, NewStream* out) {
    out->codec = avcodec_find_encoder(codec_id);
    if (out->codec == nullptr) return {AVERROR_EXIT, no_encoder};
    out->stream = avformat_new_stream(container_.get(), nullptr);
    if (out->stream == nullptr) return {AVERROR_EXIT, "Could not allocate stream\n"};
    out->encoder.reset(avcodec_alloc_context3(out->codec));
    if (!out->encoder) return AVERROR(ENOMEM);
    out->stream->id = static_cast<int>(container_->nb_streams) - 1;
    return 0;
}

Status OutputFile::open_stream(NewStream* made, bool interleaved, EncodedStream* into) {
    int ret = avcodec_open2(made->encoder.get(), made->codec, nullptr);
    if (ret >= 0)
        ret = avcodec_parameters_from_context(made->stream->codecpar, made->encoder.get());
    if (ret < 0) return ret;
    *into = EncodedStream(container_.get(), made->stream, std::move(made->encoder), interleaved);
    return 0;
}

Status OutputFile::add_video_stream(int32_t codec_id, int32_t width, int32_t height,
                                    const AVCodecContext* source, const AVStream* source_stream,
                                    const FrameClock& clock) {
    if (!container_ || source_stream == nullptr || source == nullptr || source->width <= 0 ||
        source->height <= 0) {
        return AVERROR(EINVAL);
    }
    NewStream made;
    const Status ret =
        new_stream(static_cast<AVCodecID>(codec_id), "Colud not finde encoder", &made);
    if (ret.failed()) return ret;
    AVCodecContext* enc = made.encoder.get();
    enc->width = width;
    enc->height = height;
    const bool h264 = codec_id == AV_CODEC_ID_H264;
    if (h264 && !clock) return AVERROR(EINVAL);
    set_video_encoder(enc, made.codec, codec_id, source, source_stream->time_base, clock);
    if (h264) made.stream->time_base = clock.time_base;
    if (format()->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const Status opened = open_stream(&made, true, &video_);
    if (!opened.failed()) video_.set_frame_ticks(h264 ? clock.ticks : 1);
    return opened;
}

Status OutputFile::add_audio_stream(int32_t bit_rate, const AVCodecContext* source) {
    if (!container_ || source == nullptr) return AVERROR(EINVAL);
    const AVCodecID codec_id = sound_codec_for(format(), container_->url);
    NewStream made;
    const Status added = new_stream(codec_id, "Colud not find encoder", &made);
    if (added.failed()) return added;
    AVCodecContext* enc = made.encoder.get();
    enc->sample_fmt = made.codec->sample_fmts ? made.codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    enc->codec_id = codec_id;
    enc->sample_rate = sound_sample_rate(made.codec, source->sample_rate);
    enc->bit_rate = sound_bit_rate(codec_id, bit_rate, source->bit_rate);
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    const int ret = av_channel_layout_copy(&enc->ch_layout, &stereo);
    if (ret < 0) return ret;
    made.stream->time_base = AVRational{1, enc->sample_rate};
    enc->time_base = made.stream->time_base;
    // PCM packets go out as they come; a compressing encoder's first packets start before 0
    // (its priming), which only the interleaving writer passes on.
    const bool compressed = codec_id != AV_CODEC_ID_PCM_S16LE;
    if (compressed && (format()->flags & AVFMT_GLOBALHEADER))
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    return open_stream(&made, compressed, &audio_);
}

int OutputFile::open_file(const char* path) {
    if (!container_) return AVERROR(EINVAL);
    if (format()->flags & AVFMT_NOFILE) return 0;
    return avio_open(&container_->pb, path, AVIO_FLAG_WRITE);
}

int OutputFile::write_header() {
    return container_ ? avformat_write_header(container_.get(), nullptr) : AVERROR(EINVAL);
}

int OutputFile::write_trailer() {
    return container_ ? av_write_trailer(container_.get()) : AVERROR(EINVAL);
}

void OutputFile::close() {
    video_ = EncodedStream();
    audio_ = EncodedStream();
    container_.reset();  // closes the file unless the muxer writes none, frees the streams
}

}  // namespace orbv
