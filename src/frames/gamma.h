// Gamma correction of the output frames.
#pragma once

#include <cstdint>

namespace vexo {

// Applies the gamma curve to the three colour bytes of one pixel, in place. g == 1.0
// leaves them unchanged.
void ApplyGamma(unsigned char* pixel, float g);

// The curve for g as a table of 256 results, byte-identical to ApplyGamma.
const uint8_t* GammaTable(float g);

} // namespace vexo
