#include "frames/frame_progress.h"

namespace vexo {

std::string FrameStatusText(const FrameProgress& p) {
    switch (p.step) {
    case FrameProgress::Step::Writing:
        return "Writing frame " + std::to_string(p.frame) + " (" + p.source + ") ...";
    case FrameProgress::Step::Retrying:
        return "Retrying frame " + std::to_string(p.frame) + " (" + std::to_string(p.attempt) +
               ") ...";
    case FrameProgress::Step::Sensing:
        return "Sensing...";
    case FrameProgress::Step::Failed:
        return "Failed.";
    }
    return {};
}

std::string FrameTitleText(const FrameProgress& p) {
    return p.step == FrameProgress::Step::Writing ? "VEXO [ " + p.source + " ]" : std::string();
}

} // namespace vexo
