// Placeholder until the compression manager lands: no compressor is installed, only
// uncompressed output is offered.
#include "platform/vfw.h"

namespace vexo {

HIC ICOpen(FOURCC, FOURCC, unsigned) {
    return nullptr;
}
void ICClose(HIC) {}
long ICSendMessage(HIC, unsigned, void*, long) {
    return 0;
}
void ICCompressorFree(COMPVARS* vars) {
    if (vars)
        vars->dwFlags &= ~ICMF_COMPVARS_VALID;
}
std::vector<CompressorOption> ICGetOptions(HIC) {
    return {};
}
bool ICSetOption(HIC, const std::string&, int) {
    return false;
}
std::vector<CompressorInfo> ICEnumerateCompressors() {
    return {{kDefaultFourCC, "Full Frames (Uncompressed)", false, false, false, false}};
}

} // namespace vexo
