// Motion blur as a stage of the frame pipeline: the game is captured at several times the
// video's rate, and every group of that many consecutive pictures becomes one frame, their
// average (FrameBlender).
#pragma once

#include "frames/blend.h"
#include "frames/frame_stage.h"

namespace vexo {

class BlendStage : public FrameStage {
public:
    // subFrames: FrameBlender::ValidSubFrames.
    explicit BlendStage(int subFrames) : blender_(subFrames) {}

    bool Take(const Frame& frame, FrameSink& next) override;
    int PicturesPerFrame() const override { return blender_.SubFrames(); }

private:
    FrameBlender blender_;
    TgaImage blendedImage_{}; // the blend of screenshots, as the writer takes screenshots
};

} // namespace vexo
