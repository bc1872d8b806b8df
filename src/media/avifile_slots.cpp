// Frame slots: frames made ready apart from their stream, converted (and, where the
// compressor's frames are independent, compressed) on another thread.
#include <cstring>
#include <new>

#include "media/avifile_internal.h"

namespace vexo::media {

long AVIStreamCreateFrameSlot(PAVISTREAM stream, bool compress, const AviFrameSlot* partner,
                              AviFrameSlot** slot) {
    if (!slot)
        return AVIERR_BADPARAM;
    *slot = nullptr;
    if (const long taken = TakesFrames(stream); taken != AVIERR_OK)
        return taken;
    const AviMux& mux = *stream->mux;
    auto* made = new (std::nothrow) AviFrameSlot;
    if (!made)
        return AVIERR_MEMORY;
    made->fileSerial = mux.serial;
    made->frameFormat = mux.frameFormat;
    made->raw = !mux.encoder;
    made->timeBase = mux.FrameTimeBase();
    made->bufferStride = mux.bufferStride;
    made->bufferFormat = mux.bufferFormat;
    if (compress && mux.independentFrames)
        made->packet.reset(av_packet_alloc());
    if (compress && !mux.independentFrames && mux.scaler) {
        const AVFrame& like = *mux.encoderFrame;
        if (!MakeConverter(like.width, like.height, mux.bufferFormat,
                           static_cast<AVPixelFormat>(like.format), made->scaler, made->scaled)) {
            made->scaler.reset(); // the stream converts the frame itself
            made->scaled.reset();
        }
    }
    if (made->packet) {
        if (partner && partner->fileSerial == mux.serial && partner->encoder) {
            made->encoder = partner->encoder;
        } else {
            // An encoder of its own, taken only if it makes the very stream header the
            // file has, so that its frames are the stream's frames.
            auto encoder = std::make_shared<SlotEncoder>();
            const AVCodecContext* own = mux.encoder.get();
            if (OpenEncoder(mux, false, encoder->context) == AVIERR_OK) {
                const AVCodecContext* ctx = encoder->context.get();
                if (ctx->extradata_size == own->extradata_size &&
                    (ctx->extradata_size == 0 ||
                     std::memcmp(ctx->extradata, own->extradata,
                                 static_cast<size_t>(ctx->extradata_size)) == 0))
                    made->encoder = std::move(encoder);
            }
        }
    }
    *slot = made;
    return AVIERR_OK;
}

long AVIFrameSlotGetBuffer(AviFrameSlot* slot, AviFrameBuffer* frame) {
    if (!slot || !frame)
        return AVIERR_BADPARAM;
    slot->compressed = false;
    slot->scaledReady = false;
    if (slot->packet)
        av_packet_unref(slot->packet.get());
    if (!EnsureBuffer(slot->buffer, slot->Shape()))
        return AVIERR_MEMORY;
    *frame = Describe(slot->Shape(), slot->buffer->data);
    return AVIERR_OK;
}

long AVIFrameSlotCompress(AviFrameSlot* slot) {
    if (!slot || !slot->buffer)
        return AVIERR_BADPARAM;
    AVCodecContext* encoder = slot->encoder ? slot->encoder->context.get() : nullptr;
    if (slot->scaler && !slot->scaledReady) {
        FramePtr input = UprightFrame(slot->buffer.get(), slot->Shape());
        // Out of memory, the stream converts the frame itself.
        slot->scaledReady = input && ScaleFrame(slot->scaler.get(), *input, slot->scaled.get());
        return AVIERR_OK;
    }
    if (!encoder || slot->compressed)
        return AVIERR_OK;
    FramePtr input = UprightFrame(slot->buffer.get(), slot->Shape());
    if (!input)
        return AVIERR_MEMORY;
    input->pts = 0;
    input->pict_type = AV_PICTURE_TYPE_NONE;
    input->quality = (encoder->flags & AV_CODEC_FLAG_QSCALE) ? encoder->global_quality : 0;
    int ret = avcodec_send_frame(encoder, input.get());
    input.reset();
    if (ret >= 0)
        ret = avcodec_receive_packet(encoder, slot->packet.get());
    if (ret < 0) {
        // The frame goes through the stream's own encoder instead; this encoder, whatever
        // it may still hold, is not used again.
        av_packet_unref(slot->packet.get());
        slot->encoder->context.reset();
        return ret == AVERROR(EAGAIN) ? AVIERR_OK : AVIERR_COMPRESSOR;
    }
    slot->compressed = true;
    return AVIERR_OK;
}

bool AVIFrameSlotCompressesApart(const AviFrameSlot* slot) {
    return slot && (slot->raw || (slot->encoder && slot->encoder->context));
}

bool AVIFrameSlotComplete(const AviFrameSlot* slot) {
    return slot && slot->buffer && (slot->raw || slot->compressed);
}

long AVIStreamWriteFrameSlot(PAVISTREAM stream, int32_t start, AviFrameSlot* slot,
                             int32_t* bytesWritten) {
    if (bytesWritten)
        *bytesWritten = 0;
    if (!stream || !stream->mux || stream->sound || !slot || !slot->buffer || start < 0)
        return AVIERR_BADPARAM;
    AviMux& mux = *stream->mux;
    if (const long refused = CanWriteAt(mux, start))
        return refused;
    if (slot->fileSerial != mux.serial)
        return AVIERR_BADPARAM; // made for another file
    int32_t written = 0;
    mux.gapFrames = start - mux.nextPosition;
    const bool compressed = slot->compressed;
    const bool scaled = slot->scaledReady;
    slot->compressed = false;
    slot->scaledReady = false;
    long made;
    if (compressed)
        made = WriteMadePacket(mux, slot->packet.get(), slot->timeBase, start, &written);
    else if (scaled)
        made = EncodeFrame(mux, slot->scaled.get(), start, &written);
    else
        made = WriteBuffer(mux, slot->buffer.get(), start, &written);
    if (const long ret = Written(mux, start, made))
        return ret;
    if (bytesWritten)
        *bytesWritten = written;
    return AVIERR_OK;
}

void AVIFrameSlotRelease(AviFrameSlot* slot) {
    delete slot;
}

} // namespace vexo::media
