#include "media/encoded_stream.h"

namespace orbv {

EncodedStream::EncodedStream(AVFormatContext* container, AVStream* stream, CodecContextPtr encoder,
                             bool interleaved)
    : container_(container),
      stream_(stream),
      encoder_(std::move(encoder)),
      interleaved_(interleaved) {}

int EncodedStream::write_packets(bool one, bool* got) {
    PacketPtr packet = make_packet();
    if (!packet) return AVERROR(ENOMEM);
    AVCodecContext* encoder = encoder_.get();
    for (;;) {
        int ret = avcodec_receive_packet(encoder, packet.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return 0;
        if (ret < 0) return ret;
        *got = true;
        packet->stream_index = stream_->index;
        // libx264 states no packet duration; the last picture would last one tick.
        if (packet->duration == 0 && encoder->codec_type == AVMEDIA_TYPE_VIDEO &&
            encoder->framerate.num > 0 && encoder->framerate.den > 0) {
            packet->duration = av_rescale_q(1, av_inv_q(encoder->framerate), encoder->time_base);
        }
        // The muxer may have chosen another time base for the stream at the header.
        av_packet_rescale_ts(packet.get(), encoder->time_base, stream_->time_base);
        if (interleaved_) {
            ret = av_interleaved_write_frame(container_, packet.get());
        } else {
            ret = packet->pts >= 0 ? av_write_frame(container_, packet.get()) : 0;
        }
        av_packet_unref(packet.get());
        if (ret < 0) return ret;
        if (one) return 0;
    }
}

int EncodedStream::write_frame(AVFrame* frame, bool* got) {
    *got = false;
    if (!encoder_ || stream_ == nullptr || container_ == nullptr) return AVERROR(EINVAL);
    if (frame == nullptr) {
        if (!draining_) {
            draining_ = true;
            const int ret = avcodec_send_frame(encoder_.get(), nullptr);
            if (ret < 0 && ret != AVERROR_EOF) return ret;
        }
        return write_packets(true, got);
    }
    if (draining_) return AVERROR_EOF;
    frame->pts = next_pts_;
    next_pts_ += frame_ticks_ > 0 ? frame_ticks_ : frame->nb_samples;
    ++frames_;
    int ret = avcodec_send_frame(encoder_.get(), frame);
    if (ret == AVERROR(EAGAIN)) {
        // A full encoder gives its packets first; it then takes the frame.
        ret = write_packets(false, got);
        if (ret < 0) return ret;
        ret = avcodec_send_frame(encoder_.get(), frame);
    }
    if (ret < 0) return ret;
    return write_packets(false, got);
}

AVFrame* EncodedStream::writable_frame(int format) {
    if (!encoder_) return nullptr;
    const int width = encoder_->width, height = encoder_->height;
    for (const FramePtr& frame : pool_) {
        if (frame && frame->buf[0] != nullptr && frame->width == width && frame->height == height &&
            frame->format == format && av_frame_is_writable(frame.get()))
            return frame.get();
    }
    FramePtr& frame = pool_[pool_next_];
    pool_next_ = (pool_next_ + 1) % kPoolSize;
    if (!frame) frame = make_frame();
    if (!frame) return nullptr;
    av_frame_unref(frame.get());
    frame->width = width;
    frame->height = height;
    frame->format = format;
    return av_frame_get_buffer(frame.get(), 0) < 0 ? nullptr : frame.get();
}

}  // namespace orbv
