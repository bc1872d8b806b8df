// Placeholder until the compression manager lands: only uncompressed output is offered and
// no compressor can be opened.
#include "platform/vfw.h"

namespace vexo {

std::string FourCCToString(FOURCC code) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i)
        text[i] = static_cast<char>((code >> (8 * i)) & 0xFF);
    return text;
}

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
    return {{FOURCC_DIB, "Full Frames (Uncompressed)", false, false, false, false}};
}

} // namespace vexo
