#pragma once

#include <cstdint>

#include "media/progress_reporter.h"
#include "media/video_decoder.h"
#include "util/ffmpeg_ptr.h"

namespace orbv {

struct ExportParams;
struct ExportWork;

// Where the export loop spent its time on the calling thread, in seconds: decoding the lens
// pictures, stitching them (conversion without the encoder), encoding and writing the
// panorama pictures, and the whole call. The rest of the total is reading, sound and set-up.
struct ExportTimings {
    double decode = 0;
    double stitch = 0;
    double encode = 0;
    double total = 0;
};

// The media interface object: every use of FFmpeg goes through one of these. It holds up to
// two inputs (slot 0 and slot 1, one per lens of a shot) and at most one output, plus the last
// error. One object serves one exported call on the caller's thread.
//
// Operations return 0 on success and a negative FFmpeg code (AVERROR_EXIT for the layer's own
// fixed failures and for a cancel) otherwise, with errnum/errstr describing the failure.
class libavIF {
  public:
    explicit libavIF(const char* path1);
    libavIF(const char* path1, const char* path2);
    ~libavIF();
    libavIF(const libavIF&) = delete;
    libavIF& operator=(const libavIF&) = delete;

    // --- Inputs ---------------------------------------------------------------------------
    // Opens path1 into slot 0 (slot 0) or path2 into slot 1 (any other value). A failure after
    // the container was opened closes every slot.
    int32_t open_input(int32_t slot);
    // Closes both slots; safe at any time and more than once.
    void close_input();
    // Decodes the next picture of slot 0 into a new frame that the caller owns in every case
    // (av_frame_free). At the end of the file the frame may be empty (width 0): check it.
    int32_t read_video_frame(AVFrame** frame);

    // Per-slot facts of the video stream (the fields below describe only the input opened
    // last). Null / {0,1} / 0 for a slot that is not open.
    AVStream* input_video_stream(int32_t slot) const;
    AVStream* input_audio_stream(int32_t slot) const;
    AVRational video_time_base(int32_t slot) const;
    int64_t video_frame_count(int32_t slot) const;

    // --- Thumbnail ------------------------------------------------------------------------
    // Writes the first picture of slot 0 as a JPEG of `width` pixels (0, or more than the
    // source: the source width), turned upright for the EXIF `orientation`. AVERROR_EOF when
    // the stream ends before any picture decodes.
    int32_t write_thumbnail(const char* path, int32_t width, int32_t orientation);
    // Copies the planes of src into dst transformed by the EXIF orientation. For quarter turns
    // (6, 8) dst must have src's width and height swapped; otherwise the same size.
    static void orient_frame(const AVFrame* src, AVFrame* dst, int32_t orientation);
    // Whether an orientation turns the picture by a quarter (width and height swap).
    static bool is_quarter_turn(int32_t orientation) {
        return orientation == 6 || orientation == 8;
    }

    // --- Output side ----------------------------------------------------------------------
    int32_t add_video_stream(int32_t codec_id, int32_t width, int32_t height,
                             int32_t source_choice);
    int32_t add_audio_stream(int32_t bit_rate);
    // Scaler from slot 0's pictures to the output encoder's size and format (or to the given
    // size in the encoder's format).
    int32_t init_sws_context();
    int32_t init_sws_context(int32_t width, int32_t height);
    // Encodes one picture (timestamps in units of the output video stream's time base) and
    // writes what comes out; a null frame drains: 1 once no packet is left.
    int32_t encode_video_frame(AVFrame* frame);
    // Encodes one audio frame (numbered by audio_pts) or drains with a null frame.
    int32_t encode_audio_frame(AVFrame* frame, int32_t* got_packet);
    // Releases the whole output side; safe at any time and more than once.
    void close_output();

    // --- Audio ----------------------------------------------------------------------------
    int32_t init_swr_context();
    int32_t init_audio_fifo();
    int32_t decode_audio_to_fifo(int32_t slot, AVPacket* packet, int32_t* past_end, float start,
                                 float end);
    int32_t encode_audio_from_fifo();
    // Decodes one sound packet of `slot` into the FIFO and encodes whole frames of
    // `frame_size` samples. Releases the packet's data. On failure the output is closed.
    int32_t write_audio_packet(int32_t slot, AVPacket* packet, int32_t* past_end,
                               int32_t frame_size, float start, float end);
    // The number of audio packets announced at the start of write_audio: the stream's length
    // over the first packet's. A packet without a duration is measured by its size or the
    // decoder's frame size; a stream without a length takes the container's. 0 when unknown.
    static int64_t estimate_audio_packets(const AVFormatContext* fmt, const AVStream* stream,
                                          const AVCodecContext* decoder, const AVPacket* packet);
    // Writes the sound of slot 0 as 16-bit stereo PCM into the container named by audio_path,
    // reporting every audio packet. AVERROR_EOF when not one packet of the sound could be read.
    int32_t write_audio(const char* audio_path, int32_t bit_rate, ProgressReporter& progress);

    // --- Export ---------------------------------------------------------------------------
    // Stitches the pictures of slot 0 and slot 1 (both open) pair by pair into the panorama
    // file at export_path, with the sound of the slot params.audio_input names, reporting every
    // pair. 0; AVERROR_EXIT with `cancelled` set after a cancel; else a negative code with
    // errnum/errstr. The output is closed on every return; the inputs stay open.
    int32_t write_video(const char* export_path, ExportParams params, ProgressReporter& progress);
    // Stitches one picture pair, stamps it with video_pts (then advanced by 1001) and encodes
    // it. 0 or a negative code, also left in errnum.
    int32_t convert_frame(AVFrame* frame1, AVFrame* frame2, ExportParams params);

    // --- Errors ---------------------------------------------------------------------------
    // errnum = code, errstr = FFmpeg's text for it; returns code.
    int32_t set_error(int32_t code);
    // errstr = the formatted fixed message (errnum untouched).
    void set_message(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // --- Fields ---------------------------------------------------------------------------
    double duration = -1.0;  // seconds, video stream of the input opened last
    int32_t width = 0;       // video picture size of the input opened last
    int32_t height = 0;
    int64_t nb_frames = 0;  // container's frame count of that video stream (0: none stated)
    int64_t video_ts1 = 0;  // best-effort timestamps of the export loop's last pictures
    int64_t video_ts2 = 0;
    int32_t audio_codec_id = 0;  // audio codec of the input opened last that has sound
    int32_t errnum = 0;
    char errstr[255] = {};
    bool cancelled = false;

    const char* path1;  // not owned
    const char* path2;  // not owned; null for the one-path object

    InputFormatPtr fmt_ctx[2];
    VideoDecoder video_dec_ctx[2];  // the slot's own decoder context with its picture queue
    CodecContextPtr audio_dec_ctx[2];
    int32_t video_stream_idx[2] = {-1, -1};
    int32_t audio_stream_idx[2] = {-1, -1};
    bool still_input[2] = {false, false};

    OutputFormatPtr ofmt_ctx;
    const AVCodec* video_codec = nullptr;
    CodecContextPtr video_enc_ctx;  // encoders own their contexts; streams get a copy of the
                                    // parameters once the encoder is open
    const AVCodec* audio_codec = nullptr;
    CodecContextPtr audio_enc_ctx;
    AVStream* video_stream = nullptr;  // owned by ofmt_ctx
    SwsContextPtr sws_ctx;
    int64_t video_pts = 0;
    AVStream* audio_stream = nullptr;  // owned by ofmt_ctx
    SwrContextPtr swr_ctx;
    AudioFifoPtr audio_fifo;
    int64_t audio_pts = 0;

    // Decoder threads for the inputs opened after it is set: 0 lets FFmpeg take one per core,
    // 1 decodes on the caller's thread alone. Threads never change the decoded pictures.
    int32_t decoder_threads = 0;
    // Threads of the H.264 encoder of the outputs added after it is set: 0 lets the encoder
    // choose from the cores, as the ffmpeg program does.
    int32_t encoder_threads = 0;

    // The slot whose sound the output streams and the resampler are made for; -1: slot 0 when
    // it has sound, else slot 1.
    int32_t audio_source_slot = -1;
    // With a value of 0 or more, the decoded sound beyond this many samples (counted from the
    // first sample of the output) is not stored, and reaching it ends the sound's window.
    int64_t audio_sample_limit = -1;

    ExportTimings export_timings;

  private:
    // The slot whose sound feeds the output's audio stream.
    int audio_source() const;

    // What the running export keeps from pair to pair; null outside write_video.
    ExportWork* export_work_ = nullptr;

    // Per-output state of the send/receive encoders.
    bool video_enc_draining_ = false;
    bool audio_enc_draining_ = false;

    // What the resampler was set up to read; a decoded frame that differs is refused.
    int swr_in_channels_ = 0;
    int swr_in_format_ = -1;

    // Takes packets from an encoder (all that are ready, or at most one when `one` is set)
    // and writes them to `stream`; *got tells whether any came out.
    int32_t write_encoded(AVCodecContext* encoder, AVStream* stream, bool interleaved, bool one,
                          bool* got);
};

}  // namespace orbv
