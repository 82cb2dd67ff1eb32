#include "media/container_rules.h"

#include <cstring>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/spherical.h>
#include <libavutil/stereo3d.h>
}

namespace orbv {

namespace {
constexpr int64_t kLossyBitRate = 192000;

bool muxer_is(const AVOutputFormat* format, const char* name) {
    return format != nullptr && format->name != nullptr && std::strcmp(format->name, name) == 0;
}

// Hands `data` of `size` bytes to the stream as side data of `type`; freed here on failure.
int add_side_data(AVStream* stream, AVPacketSideDataType type, void* data, size_t size) {
    if (data == nullptr) return AVERROR(ENOMEM);
    const int ret = av_stream_add_side_data(stream, type, static_cast<uint8_t*>(data), size);
    if (ret < 0) av_free(data);
    return ret;
}
}  // namespace

AVCodecID sound_codec_for(const AVOutputFormat* format, const char* path) {
    if (muxer_is(format, "mp4")) return AV_CODEC_ID_AAC;
    if (muxer_is(format, "ipod") && path != nullptr && av_match_ext(path, "m4a"))
        return AV_CODEC_ID_AAC;
    if (muxer_is(format, "flac")) return AV_CODEC_ID_FLAC;
    if (muxer_is(format, "mp3")) return AV_CODEC_ID_MP3;
    if (muxer_is(format, "ogg") || muxer_is(format, "opus")) return AV_CODEC_ID_OPUS;
    return AV_CODEC_ID_PCM_S16LE;
}

bool sound_name_fits(const char* path) {
    const AVOutputFormat* format = av_guess_format(nullptr, path, nullptr);
    if (format == nullptr || format->audio_codec == AV_CODEC_ID_NONE) return false;
    const AVCodecID codec = sound_codec_for(format, path);
    if (avcodec_find_encoder(codec) == nullptr) return false;
    // PCM goes only where FFmpeg knows the muxer to take it: the muxers that keep no list of
    // their codecs write their own codec (.aac, .ac3) or, as MPEG-TS, PCM as unreadable data.
    return codec != AV_CODEC_ID_PCM_S16LE ||
           avformat_query_codec(format, codec, FF_COMPLIANCE_NORMAL) > 0;
}

int64_t sound_bit_rate(AVCodecID codec, int32_t requested, int64_t source) {
    if (requested != 0) return requested;
    const bool lossy =
        codec == AV_CODEC_ID_AAC || codec == AV_CODEC_ID_MP3 || codec == AV_CODEC_ID_OPUS;
    return lossy ? kLossyBitRate : source;
}

int sound_sample_rate(const AVCodec* encoder, int source) {
    if (encoder->id == AV_CODEC_ID_OPUS) return 48000;
    // The others keep the source's rate: an export's sound is placed sample by sample.
    const int* rates = encoder->supported_samplerates;
    if (encoder->id != AV_CODEC_ID_MP3 || rates == nullptr) return source;
    for (const int* rate = rates; *rate != 0; ++rate) {
        if (*rate == source) return source;
    }
    return rates[0] != 0 ? rates[0] : source;
}

bool is_sharing_mp4(const AVOutputFormat* format) { return muxer_is(format, "mp4"); }

int prepare_sharing_mp4(AVFormatContext* container, AVStream* video) {
    if (container == nullptr || video == nullptr) return AVERROR(EINVAL);
    int ret = av_opt_set(container->priv_data, "movflags", "+faststart", 0);
    // The sound's edit list counts in the movie's clock: the pictures' clock keeps the sound,
    // cut to the picture span, to the sample instead of to the millisecond.
    if (ret >= 0 && video->time_base.num == 1 && video->time_base.den > 0)
        ret = av_opt_set_int(container->priv_data, "movie_timescale", video->time_base.den, 0);
    if (ret < 0) return ret;
    container->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
    size_t size = 0;
    AVSphericalMapping* mapping = av_spherical_alloc(&size);
    if (mapping != nullptr) mapping->projection = AV_SPHERICAL_EQUIRECTANGULAR;
    ret = add_side_data(video, AV_PKT_DATA_SPHERICAL, mapping, size);
    if (ret < 0) return ret;
    // A new record is mono (AV_STEREO3D_2D).
    return add_side_data(video, AV_PKT_DATA_STEREO3D, av_stereo3d_alloc(), sizeof(AVStereo3D));
}

}  // namespace orbv
