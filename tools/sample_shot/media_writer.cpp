// Lens movies (H.264 in MOV with PCM or AAC sound) and lens stills (JPEG with EXIF).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "sample_shot.h"

namespace orbv_sample {

namespace {

struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct OutputFree {
    void operator()(AVFormatContext* c) const {
        avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
using Codec = std::unique_ptr<AVCodecContext, CodecFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;
using Output = std::unique_ptr<AVFormatContext, OutputFree>;

void check(int ret, const char* what) {
    if (ret >= 0) return;
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(ret, text, sizeof(text));
    throw std::runtime_error(std::string(what) + ": " + text);
}

void copy_picture(const Picture& p, AVFrame* frame) {
    check(av_frame_make_writable(frame), "frame not writable");
    for (int row = 0; row < p.height; ++row) {
        std::memcpy(frame->data[0] + static_cast<ptrdiff_t>(row) * frame->linesize[0],
                    &p.y[static_cast<size_t>(row) * p.width], p.width);
    }
    for (int row = 0; row < p.chroma_height(); ++row) {
        const size_t from = static_cast<size_t>(row) * p.chroma_width();
        std::memcpy(frame->data[1] + static_cast<ptrdiff_t>(row) * frame->linesize[1], &p.u[from],
                    p.chroma_width());
        std::memcpy(frame->data[2] + static_cast<ptrdiff_t>(row) * frame->linesize[2], &p.v[from],
                    p.chroma_width());
    }
}

Frame picture_frame(int width, int height, AVPixelFormat format) {
    Frame frame(av_frame_alloc());
    if (!frame) throw std::runtime_error("out of memory");
    frame->width = width;
    frame->height = height;
    frame->format = format;
    check(av_frame_get_buffer(frame.get(), 0), "frame buffer");
    return frame;
}

// Sends a frame (or the end, with null) and writes every packet that comes out.
void encode(AVFormatContext* oc, AVCodecContext* enc, AVStream* stream, AVFrame* frame) {
    check(avcodec_send_frame(enc, frame), "encoding");
    Packet packet(av_packet_alloc());
    for (;;) {
        const int ret = avcodec_receive_packet(enc, packet.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return;
        check(ret, "encoding");
        packet->stream_index = stream->index;
        // libx264 states no packet duration; without it the last picture would last one tick.
        if (packet->duration == 0 && enc->codec_type == AVMEDIA_TYPE_VIDEO) packet->duration = 1;
        av_packet_rescale_ts(packet.get(), enc->time_base, stream->time_base);
        check(av_interleaved_write_frame(oc, packet.get()), "writing");
    }
}

}  // namespace

void write_movie(const std::string& path, const MovieOptions& o) {
    if (!o.picture) throw std::runtime_error("no picture source");
    AVFormatContext* raw = nullptr;
    check(avformat_alloc_output_context2(&raw, nullptr, "mov", path.c_str()), "mov muxer");
    Output oc(raw);

    const AVCodec* video_codec = avcodec_find_encoder_by_name("libx264");
    if (video_codec == nullptr) throw std::runtime_error("FFmpeg has no libx264 encoder");
    AVStream* vs = avformat_new_stream(oc.get(), nullptr);
    Codec venc(avcodec_alloc_context3(video_codec));
    if (vs == nullptr || !venc) throw std::runtime_error("out of memory");
    venc->width = o.width;
    venc->height = o.height;
    venc->pix_fmt = AV_PIX_FMT_YUV420P;
    venc->time_base = AVRational{1001, 30000};
    venc->framerate = AVRational{30000, 1001};
    venc->gop_size = 15;
    venc->max_b_frames = o.b_frames ? 2 : 0;
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) venc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", o.preset.c_str(), 0);
    av_dict_set_int(&options, "crf", o.crf, 0);
    const int opened = avcodec_open2(venc.get(), video_codec, &options);
    av_dict_free(&options);
    check(opened, "libx264");
    check(avcodec_parameters_from_context(vs->codecpar, venc.get()), "video parameters");
    vs->time_base = AVRational{1, 30000};

    Codec aenc;
    AVStream* as = nullptr;
    if (o.sound != Sound::None) {
        const AVCodec* audio_codec =
            avcodec_find_encoder(o.sound == Sound::Pcm ? AV_CODEC_ID_PCM_S16LE : AV_CODEC_ID_AAC);
        if (audio_codec == nullptr) throw std::runtime_error("no audio encoder");
        as = avformat_new_stream(oc.get(), nullptr);
        aenc.reset(avcodec_alloc_context3(audio_codec));
        if (as == nullptr || !aenc) throw std::runtime_error("out of memory");
        aenc->sample_fmt = o.sound == Sound::Pcm ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLTP;
        aenc->sample_rate = o.sample_rate;
        av_channel_layout_default(&aenc->ch_layout, o.channels);
        aenc->time_base = AVRational{1, o.sample_rate};
        if (o.sound == Sound::Aac) aenc->bit_rate = 64000 * o.channels;
        if (oc->oformat->flags & AVFMT_GLOBALHEADER) aenc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        check(avcodec_open2(aenc.get(), audio_codec, nullptr), "audio encoder");
        check(avcodec_parameters_from_context(as->codecpar, aenc.get()), "audio parameters");
        as->time_base = aenc->time_base;
    }

    check(avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE), path.c_str());
    check(avformat_write_header(oc.get(), nullptr), "mov header");

    Frame vframe = picture_frame(o.width, o.height, AV_PIX_FMT_YUV420P);
    const double seconds = o.sound_seconds >= 0 ? o.sound_seconds : o.frames * 1001.0 / 30000.0;
    const int64_t total_samples = static_cast<int64_t>(std::floor(seconds * o.sample_rate + 0.5));
    const int chunk = aenc && aenc->frame_size > 0 ? aenc->frame_size : 1024;
    int frame_index = 0;
    int64_t sample_index = 0;
    bool video_done = false;
    bool audio_done = !aenc;
    while (!video_done || !audio_done) {
        // Whichever stream is behind goes next, so the file interleaves as a camera's does.
        const bool video_next =
            !video_done && (audio_done || av_compare_ts(frame_index, venc->time_base, sample_index,
                                                        aenc->time_base) <= 0);
        if (video_next) {
            if (frame_index == o.frames) {
                encode(oc.get(), venc.get(), vs, nullptr);
                video_done = true;
                continue;
            }
            copy_picture(o.picture(frame_index), vframe.get());
            vframe->pts = frame_index++;
            encode(oc.get(), venc.get(), vs, vframe.get());
        } else {
            if (sample_index >= total_samples) {
                encode(oc.get(), aenc.get(), as, nullptr);
                audio_done = true;
                continue;
            }
            const int n = static_cast<int>(std::min<int64_t>(chunk, total_samples - sample_index));
            Frame aframe(av_frame_alloc());
            aframe->nb_samples = n;
            aframe->format = aenc->sample_fmt;
            aframe->sample_rate = aenc->sample_rate;
            check(av_channel_layout_copy(&aframe->ch_layout, &aenc->ch_layout), "layout");
            check(av_frame_get_buffer(aframe.get(), 0), "audio buffer");
            for (int i = 0; i < n; ++i) {
                for (int c = 0; c < o.channels; ++c) {
                    const int16_t s = tone_sample(c, sample_index + i, o.sample_rate);
                    if (o.sound == Sound::Pcm) {
                        reinterpret_cast<int16_t*>(aframe->data[0])[i * o.channels + c] = s;
                    } else {
                        reinterpret_cast<float*>(aframe->extended_data[c])[i] = s / 32768.0f;
                    }
                }
            }
            aframe->pts = sample_index;
            sample_index += n;
            encode(oc.get(), aenc.get(), as, aframe.get());
        }
    }
    check(av_write_trailer(oc.get()), "mov trailer");
    oc.reset();
    if (o.with_camera) insert_udta_atom(path, "ORVM", orvm_block(o.camera));
}

void write_still(const std::string& path, const Picture& picture, const CameraInfo* camera) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (codec == nullptr) throw std::runtime_error("FFmpeg has no JPEG encoder");
    Codec enc(avcodec_alloc_context3(codec));
    if (!enc) throw std::runtime_error("out of memory");
    enc->width = picture.width;
    enc->height = picture.height;
    enc->pix_fmt = AV_PIX_FMT_YUVJ420P;
    enc->time_base = AVRational{1, 25};
    enc->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_BITEXACT;
    enc->global_quality = 2 * FF_QP2LAMBDA;
    check(avcodec_open2(enc.get(), codec, nullptr), "JPEG encoder");
    Frame frame = picture_frame(picture.width, picture.height, AV_PIX_FMT_YUVJ420P);
    copy_picture(picture, frame.get());
    frame->quality = enc->global_quality;
    frame->pts = 0;
    check(avcodec_send_frame(enc.get(), frame.get()), "JPEG encoding");
    check(avcodec_send_frame(enc.get(), nullptr), "JPEG encoding");
    Packet packet(av_packet_alloc());
    check(avcodec_receive_packet(enc.get(), packet.get()), "JPEG encoding");

    // SOI, then the camera's APP1 EXIF segment; FFmpeg's own APP0 and comment segments are
    // left out, as the camera writes none.
    const uint8_t* data = packet->data;
    const size_t size = static_cast<size_t>(packet->size);
    std::vector<uint8_t> out(data, data + 2);
    if (camera != nullptr) {
        const std::vector<uint8_t> block = exif_tiff_block(*camera);
        const size_t length = 2 + 6 + block.size();
        const uint8_t head[10] = {0xFF,
                                  0xE1,
                                  static_cast<uint8_t>(length >> 8),
                                  static_cast<uint8_t>(length),
                                  'E',
                                  'x',
                                  'i',
                                  'f',
                                  0,
                                  0};
        out.insert(out.end(), head, head + 10);
        out.insert(out.end(), block.begin(), block.end());
    }
    size_t at = 2;
    while (at + 4 <= size && data[at] == 0xFF && data[at + 1] != 0xDA) {
        const size_t length = (size_t{data[at + 2]} << 8) | data[at + 3];
        if (data[at + 1] != 0xE0 && data[at + 1] != 0xFE) {
            out.insert(out.end(), data + at, data + at + 2 + length);
        }
        at += 2 + length;
    }
    out.insert(out.end(), data + at, data + size);

    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) throw std::runtime_error("cannot write " + path);
    const size_t written = std::fwrite(out.data(), 1, out.size(), f);
    const int closed = std::fclose(f);
    if (written != out.size() || closed != 0) throw std::runtime_error("cannot write " + path);
}

}  // namespace orbv_sample
