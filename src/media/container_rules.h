#pragma once

#include "util/ffmpeg_ptr.h"

namespace orbv {

// What an output container asks of what goes into it, beyond FFmpeg's choice of muxer by name.

// The sound codec of a container (`path` its file's name): AAC for MP4 (the mp4 muxer, and the
// ipod muxer for an .m4a name), which cannot hold PCM; FLAC for the flac muxer, MP3 for the mp3
// muxer, Opus for the ogg and opus muxers; 16-bit PCM everywhere else.
AVCodecID sound_codec_for(const AVOutputFormat* format, const char* path);
// Whether a sound file of this name can be written: FFmpeg has a muxer for the name and an
// encoder of its sound codec, and knows the muxer to take 16-bit PCM when that is the codec.
bool sound_name_fits(const char* path);
// The sound's bit rate: the requested one when non-zero, else 192 kb/s for AAC, MP3 and Opus
// and the source's for the others.
int64_t sound_bit_rate(AVCodecID codec, int32_t requested, int64_t source);
// The sound's sample rate: 48 kHz for Opus; for MP3 the source's when the encoder takes it,
// else the first one it lists; the source's for every other codec.
int sound_sample_rate(const AVCodec* encoder, int source);

// Whether the container is the MP4 that 360-degree players and sharing sites take.
bool is_sharing_mp4(const AVOutputFormat* format);
// Sets up such an MP4 before its header: moov ahead of the media data (the muxer moves it there
// in a second pass at the trailer), and the spherical video boxes of `video` (st3d mono, sv3d
// equirectangular), which the muxer writes only when unofficial extensions are allowed.
// 0 or a negative FFmpeg code.
int prepare_sharing_mp4(AVFormatContext* container, AVStream* video);

}  // namespace orbv
