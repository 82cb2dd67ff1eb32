#include "media/thumbnail_job.h"

#include <algorithm>

#include "media/orientation.h"
#include "media/range_scaler.h"
#include "util/log.h"

namespace orbv {

namespace {

// A frame of the given size and format with buffers of its own.
int allocate_picture(AVFrame* frame, int width, int height, AVPixelFormat format) {
    frame->width = width;
    frame->height = height;
    frame->format = format;
    return av_frame_get_buffer(frame, 32);
}

// How many times a JPEG still is halved in decoding (FFmpeg's lowres): the most that leaves it
// at least `width` wide. Decoding fewer DCT coefficients saves most of the work on pixels that
// the scaler would throw away. 1/2 and 1/4 come from a reduced inverse DCT and scale like the
// full picture; 1/8 would be the plain 8x8 block means, whose aliasing shows in a thumbnail.
constexpr int kMaxReduction = 2;

int jpeg_reduction(const InputSlot& input, int width) {
    const AVCodecContext* decoder = input.video_decoder().get();
    if (!input.still() || decoder->codec_id != AV_CODEC_ID_MJPEG) return 0;
    const int most = std::min<int>(kMaxReduction, decoder->codec->max_lowres);
    int reduction = 0;
    while (reduction < most && AV_CEIL_RSHIFT(decoder->width, reduction + 1) >= width) ++reduction;
    return reduction;
}

}  // namespace

JobOutcome ThumbnailJob::write_thumbnail(const char* path, int32_t width, int32_t orientation,
                                         ThumbnailDecode decode) {
    const int32_t result = write(path, width, orientation, decode);
    if (result < 0) error_.fail(result);
    output_.close();
    JobOutcome outcome;
    outcome.error = error_;
    outcome.pictures = error_.failed() ? 0 : 1;
    return outcome;
}

int32_t ThumbnailJob::write(const char* path, int32_t width_request, int32_t orientation,
                            ThumbnailDecode decode) {
    InputSlot& input = input_;
    const AVCodecContext* decoder = input.video_decoder().get();
    if (!input.is_open() || decoder == nullptr || decoder->width <= 0 || decoder->height <= 0) {
        return error_.fail(AVERROR(EINVAL));
    }
    const int source_width = decoder->width;
    const int w =
        (width_request <= 0 || width_request > source_width) ? source_width : width_request;
    const int h = static_cast<int>(static_cast<int64_t>(decoder->height) * w / source_width);
    // Without an orientation of its own (a phone's movie) the picture stands as players show it.
    if (orientation < 1 || orientation > 8) orientation = display_orientation(input.video_stream());
    // A quarter turn makes a picture of swapped width and height.
    const bool quarter = is_quarter_turn(orientation);
    int32_t ret = open_thumbnail(path, quarter ? h : w, quarter ? w : h);
    if (ret < 0) return ret;

    FramePtr decoded = make_frame();
    if (!decoded) return error_.fail(AVERROR(ENOMEM));
    const int reduction = decode == ThumbnailDecode::Reduced ? jpeg_reduction(input, w) : 0;
    const int got = input.next_picture_reduced(reduction, decoded.get());
    // A stream that ends before any picture decodes gives no thumbnail: reporting one as made
    // would leave the host with a file that is empty or not there at all.
    if (got <= 0) return error_.fail(got < 0 ? got : AVERROR_EOF);
    ret = encode_thumbnail(decoded.get(), w, h, orientation);
    if (ret < 0) return ret;
    ret = output_.write_trailer();
    return ret < 0 ? error_.fail(ret) : 0;
}

int32_t ThumbnailJob::open_thumbnail(const char* path, int32_t width, int32_t height) {
    // Without a muxer for the name or for "jpeg" there is no code of FFmpeg's to report.
    if (output_.create(path, "jpeg") < 0) {
        error_.fail(0, "Colud Not Open OutputFile:%s",
                    or_null(output_name_ != nullptr ? output_name_ : path));
        return AVERROR_EXIT;
    }
    const Status video =
        output_.add_video_stream(output_.format()->video_codec, width, height,
                                 input_.video_decoder().get(), input_.video_stream(), FrameClock());
    if (video.failed()) return error_.record(video);
    int32_t ret = output_.open_file(path);
    if (ret >= 0) ret = output_.write_header();
    return ret < 0 ? error_.fail(ret) : 0;
}

// Scales the picture to width x height in the encoder's format, turns it upright and encodes
// it; an encoder with a delay gives its packet only when drained.
int32_t ThumbnailJob::encode_thumbnail(const AVFrame* decoded, int32_t width, int32_t height,
                                       int32_t orientation) {
    EncodedStream& video = output_.video();
    const AVPixelFormat format = video.encoder()->pix_fmt;
    const bool quarter = is_quarter_turn(orientation);
    FramePtr scaled = make_frame();
    FramePtr oriented = make_frame();
    if (!scaled || !oriented) return error_.fail(AVERROR(ENOMEM));
    int ret = allocate_picture(scaled.get(), width, height, format);
    if (ret >= 0) {
        ret = allocate_picture(oriented.get(), quarter ? height : width, quarter ? width : height,
                               format);
    }
    if (ret < 0) return error_.fail(ret);
    // The picture's own size and format decide the scaler: they may differ from what the
    // stream header announced, and a format swscale cannot read must not reach it.
    const AVPixelFormat source = static_cast<AVPixelFormat>(decoded->format);
    if (!sws_isSupportedInput(source)) return error_.fail(AVERROR(EINVAL));
    SwsContextPtr scaler(
        new_range_scaler({decoded->width, decoded->height, source, named_full_range(source)},
                         {width, height, format, named_full_range(format)}));
    if (!scaler) return error_.fail(AVERROR(EINVAL));
    // A scaler that writes no row leaves the picture unset; it may say so with 0 alone.
    ret = sws_scale(scaler.get(), decoded->data, decoded->linesize, 0, decoded->height,
                    scaled->data, scaled->linesize);
    if (ret <= 0) return error_.fail(ret < 0 ? ret : AVERROR_EXTERNAL);
    orient_frame(scaled.get(), oriented.get(), orientation);
    oriented->pts = 0;
    bool got = false;
    ret = video.write_frame(oriented.get(), &got);
    for (got = true; ret >= 0 && got;) ret = video.write_frame(nullptr, &got);
    return ret < 0 ? error_.fail(ret) : 0;
}

}  // namespace orbv
