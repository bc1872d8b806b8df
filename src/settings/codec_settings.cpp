// Placeholder until the codec settings land.
#include "settings/codec_settings.h"

#include <cstring>

namespace vexo {

void ResetCodecSettings(COMPVARS* vars, bool clear) {
    if (!vars)
        return;
    if (clear)
        std::memset(vars, 0, sizeof *vars);
    if (!(vars->dwFlags & ICMF_COMPVARS_VALID)) {
        vars->dwFlags |= ICMF_COMPVARS_VALID;
        vars->lQ = 10000;
    }
    vars->cbSize = kCompVarsSize;
}

bool LoadCodecSettings(const std::string&, COMPVARS* vars) { return vars != nullptr; }

} // namespace vexo
