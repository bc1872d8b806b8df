#include "frames/blend_stage.h"

namespace vexo {

bool BlendStage::Take(const Frame& frame, FrameSink& next) {
    // A screenshot is blended as it lies in memory (red first, rows in the file's order);
    // the blend keeps both, so it goes on as a screenshot of the same kind.
    media::CapturePicture picture;
    if (frame.image) {
        const TgaImage& image = *frame.image;
        picture.bottomRow = image.Pixels;
        picture.stride = static_cast<ptrdiff_t>(image.Width) * image.BytesPerPixel;
        picture.width = image.Width;
        picture.height = image.Height;
        picture.bytesPerPixel = image.BytesPerPixel;
    } else if (frame.picture) {
        picture = *frame.picture;
    } else {
        return false; // a frame made for the writer cannot be blended
    }
    switch (blender_.Add(picture)) {
    case FrameBlender::Step::Taken:
        return true;
    case FrameBlender::Step::Refused:
        return false;
    case FrameBlender::Step::Blended:
        break;
    }
    const media::CapturePicture& blended = blender_.Blended();
    Frame out;
    if (frame.image) {
        blendedImage_.BytesPerPixel = blended.bytesPerPixel;
        blendedImage_.Width = blended.width;
        blendedImage_.Height = blended.height;
        blendedImage_.DataSize = blended.width * blended.height * blended.bytesPerPixel;
        // Only read from here on.
        blendedImage_.Pixels = const_cast<unsigned char*>(blended.bottomRow);
        out.image = &blendedImage_;
    } else {
        out.picture = &blended;
    }
    return next.Put(out);
}

} // namespace vexo
