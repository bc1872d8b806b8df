// Placeholder until the compression manager lands.
#include "platform/vfw.h"

namespace vexo {

void ICCompressorFree(COMPVARS* vars) {
    if (vars)
        vars->dwFlags &= ~ICMF_COMPVARS_VALID;
}

} // namespace vexo
