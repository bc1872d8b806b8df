// Frame buffers: bottom-up pictures in the pixel layouts the encoders take, described to the
// writer channel by channel and handed to the encoders upright.
#include <cstring>

#include "media/avifile_internal.h"

namespace vexo::media {

namespace {

constexpr PixelLayout kLayouts[] = {
    {AV_PIX_FMT_BGR24, 1, 3, 2, 1, 0, -1}, {AV_PIX_FMT_RGB24, 1, 3, 0, 1, 2, -1},
    {AV_PIX_FMT_BGR0, 1, 4, 2, 1, 0, -1},  {AV_PIX_FMT_RGB0, 1, 4, 0, 1, 2, -1},
    {AV_PIX_FMT_BGRA, 1, 4, 2, 1, 0, 3},   {AV_PIX_FMT_RGBA, 1, 4, 0, 1, 2, 3},
    {AV_PIX_FMT_GBRP, 3, 1, 2, 0, 1, -1},  {AV_PIX_FMT_GBRAP, 4, 1, 2, 0, 1, 3},
};

} // namespace

const PixelLayout* LayoutOf(AVPixelFormat format) {
    for (const PixelLayout& layout : kLayouts)
        if (layout.format == format)
            return &layout;
    return nullptr;
}

AviFrameBuffer Describe(const BufferShape& shape, uint8_t* data) {
    const PixelLayout* layout = LayoutOf(shape.format);
    AviFrameBuffer frame{};
    frame.width = shape.width;
    frame.height = shape.height;
    frame.stride = shape.stride;
    auto at = [&](int channel) -> uint8_t* {
        if (channel < 0)
            return nullptr;
        return layout->planes == 1 ? data + channel : data + channel * shape.PlaneSize();
    };
    frame.red = at(layout->red);
    frame.green = at(layout->green);
    frame.blue = at(layout->blue);
    frame.alpha = at(layout->alpha);
    frame.pixelStep = layout->bytesPerPixel;
    frame.data = data;
    frame.size = static_cast<int32_t>(shape.Size());
    return frame;
}

bool EnsureBuffer(BufferPtr& buffer, const BufferShape& shape) {
    if (buffer && av_buffer_is_writable(buffer.get()))
        return true;
    buffer.reset(av_buffer_allocz(shape.Size()));
    return buffer != nullptr;
}

void CopyDib(const uint8_t* src, int32_t srcStride, int srcBpp, const BufferShape& shape,
             uint8_t* data) {
    const AviFrameBuffer frame = Describe(shape, data);
    for (int y = 0; y < frame.height; ++y) {
        const uint8_t* s = src + static_cast<size_t>(y) * srcStride;
        const size_t row = static_cast<size_t>(y) * frame.stride;
        if (shape.format == (srcBpp == 3 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGRA)) {
            std::memcpy(frame.data + row, s, static_cast<size_t>(frame.width) * srcBpp);
            continue;
        }
        size_t at = row;
        for (int x = 0; x < frame.width; ++x, s += srcBpp, at += frame.pixelStep) {
            frame.blue[at] = s[0];
            frame.green[at] = s[1];
            frame.red[at] = s[2];
            if (frame.alpha)
                frame.alpha[at] = srcBpp == 4 ? s[3] : 255;
        }
    }
}

FramePtr UprightFrame(AVBufferRef* buffer, const BufferShape& shape) {
    FramePtr input(av_frame_alloc());
    if (!input)
        return nullptr;
    input->format = shape.format;
    input->width = shape.width;
    input->height = shape.height;
    const size_t lastRow = static_cast<size_t>(shape.height - 1) * shape.stride;
    for (int p = 0; p < LayoutOf(shape.format)->planes; ++p) {
        input->data[p] = buffer->data + p * shape.PlaneSize() + lastRow;
        input->linesize[p] = -shape.stride;
    }
    input->buf[0] = av_buffer_ref(buffer);
    if (!input->buf[0])
        return nullptr;
    return input;
}

} // namespace vexo::media
