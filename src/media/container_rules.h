#pragma once

#include "util/ffmpeg_ptr.h"

namespace orbv {

// What an output container asks of what goes into it, beyond FFmpeg's choice of muxer by name.

// The sound codec the container gets: AAC for MP4 (the mp4 muxer, and the ipod muxer for an
// .m4a name), which cannot hold PCM; FLAC for the flac muxer; 16-bit PCM everywhere else, also
// where that fails, as it always has.
AVCodecID sound_codec_for(const AVFormatContext* container);
// The sound's bit rate: the requested one when non-zero, else 192 kb/s for AAC and the source's
// for the others.
int64_t sound_bit_rate(AVCodecID codec, int32_t requested, int64_t source);

// Whether the container is the MP4 that 360-degree players and sharing sites take.
bool is_sharing_mp4(const AVOutputFormat* format);
// Sets up such an MP4 before its header: moov ahead of the media data (the muxer moves it there
// in a second pass at the trailer), and the spherical video boxes of `video` (st3d mono, sv3d
// equirectangular), which the muxer writes only when unofficial extensions are allowed.
// 0 or a negative FFmpeg code.
int prepare_sharing_mp4(AVFormatContext* container, AVStream* video);

}  // namespace orbv
