#include "media/video_decoder.h"

namespace orbv {

void VideoDecoder::reset() {
    queue_.clear();
    context_.reset();
    draining_ = false;
    at_end_ = false;
}

int VideoDecoder::receive_all() {
    for (;;) {
        FramePtr frame = make_frame();
        if (!frame) return AVERROR(ENOMEM);
        const int ret = avcodec_receive_frame(context_.get(), frame.get());
        if (ret == AVERROR(EAGAIN)) return 0;
        if (ret == AVERROR_EOF) {
            at_end_ = true;
            return 0;
        }
        if (ret < 0) return ret;
        queue_.push_back(std::move(frame));
    }
}

int VideoDecoder::send_packet(const AVPacket* packet) {
    if (!context_) return AVERROR(EINVAL);
    if (packet == nullptr || (packet->data == nullptr && packet->size == 0)) return drain();
    if (draining_) return AVERROR_EOF;
    int ret = avcodec_send_packet(context_.get(), packet);
    // A full decoder gives its pictures first; it then takes the packet. Two refusals in a row
    // would mean the decoder broke its own contract.
    if (ret == AVERROR(EAGAIN)) {
        ret = receive_all();
        if (ret < 0) return ret;
        ret = avcodec_send_packet(context_.get(), packet);
        if (ret == AVERROR(EAGAIN)) ret = AVERROR_BUG;
    }
    if (ret < 0) return ret;
    return receive_all();
}

int VideoDecoder::drain() {
    if (!context_) return AVERROR(EINVAL);
    if (!draining_) {
        draining_ = true;
        const int ret = avcodec_send_packet(context_.get(), nullptr);
        if (ret < 0 && ret != AVERROR_EOF) return ret;
    }
    return receive_all();
}

int VideoDecoder::take_picture(AVFrame* frame) {
    if (queue_.empty()) return 0;
    av_frame_unref(frame);
    av_frame_move_ref(frame, queue_.front().get());
    queue_.pop_front();
    return 1;
}

void VideoDecoder::flush() {
    if (context_) avcodec_flush_buffers(context_.get());
    queue_.clear();
    draining_ = false;
    at_end_ = false;
}

}  // namespace orbv
