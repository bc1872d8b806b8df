// Packed rows with 64-byte vectors: 16 pixels at a time are loaded, their bytes permuted into
// the frame's order and size, looked up in the 256-byte curve (four 64-byte table registers,
// two two-register byte permutes and a blend on the top bit), and stored under a mask that
// leaves the bytes the per-byte conversion does not write alone.
#include "frames/pixel_rows.h"

#include <cstring>

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define VEXO_WIDE_ROWS 1
#include <immintrin.h>
#endif

namespace vexo {

namespace {

uint64_t LowBits(int n) {
    return n >= 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
}

#ifdef VEXO_WIDE_ROWS
#define VEXO_WIDE __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// The curve as four 64-byte registers.
struct WideCurve {
    __m512i t0, t1, t2, t3;
};

// 16 pixels (fewer under narrower masks).
VEXO_WIDE inline void ConvertBlock(const FastPackedRows::Plan& plan, const WideCurve& curve,
                                   __m512i permute, const uint8_t* s, uint8_t* d, __mmask64 load,
                                   __mmask64 store) {
    const __m512i v = _mm512_maskz_loadu_epi8(load, s);
    // (the zero-masked form: the plain one starts from an undefined register)
    const __m512i q = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, permute, v);
    const __m512i low = _mm512_permutex2var_epi8(curve.t0, q, curve.t1);
    const __m512i high = _mm512_permutex2var_epi8(curve.t2, q, curve.t3);
    __m512i c = _mm512_mask_blend_epi8(_mm512_movepi8_mask(q), low, high);
    c = _mm512_mask_blend_epi8(plan.alphaSource, c, q);
    c = _mm512_mask_blend_epi8(plan.alphaOpaque, c, _mm512_set1_epi8(-1));
    _mm512_mask_storeu_epi8(d, store, c);
}

VEXO_WIDE void ConvertWide(const FastPackedRows::Plan& plan, const uint8_t* source, uint8_t* row,
                           int32_t width, const uint8_t* table) {
    const WideCurve curve{_mm512_loadu_si512(table), _mm512_loadu_si512(table + 64),
                          _mm512_loadu_si512(table + 128), _mm512_loadu_si512(table + 192)};
    const __m512i permute = _mm512_loadu_si512(plan.permute);
    const int inBytes = 16 * plan.sourceBpp;
    const int outBytes = 16 * plan.step;
    const __mmask64 fullLoad = LowBits(inBytes);
    int32_t x = 0;
    for (; x + 16 <= width; x += 16, source += inBytes, row += outBytes)
        ConvertBlock(plan, curve, permute, source, row, fullLoad, plan.store);
    const int rest = width - x;
    if (rest > 0)
        ConvertBlock(plan, curve, permute, source, row, LowBits(rest * plan.sourceBpp),
                     plan.store & LowBits(rest * plan.step));
}
#endif

} // namespace

bool FastPackedRows::Available() {
#ifdef VEXO_WIDE_ROWS
    static const bool available = __builtin_cpu_supports("avx512f") &&
                                  __builtin_cpu_supports("avx512bw") &&
                                  __builtin_cpu_supports("avx512vbmi");
    return available;
#else
    return false;
#endif
}

FastPackedRows::FastPackedRows(const PackedRowLayout& layout) {
    const int step = layout.step;
    const int bpp = layout.sourceBpp;
    if ((bpp != 3 && bpp != 4) || (step != 3 && step != 4) ||
        (layout.sourceRedAt != 0 && layout.sourceRedAt != 2))
        return;
    const int at[4] = {layout.redAt, layout.greenAt, layout.blueAt, layout.alphaAt};
    const int from[4] = {layout.sourceRedAt, 1, 2 - layout.sourceRedAt, 3};
    int taken = 0;
    for (int c = 0; c < 4; ++c) {
        if (c == 3 && at[c] < 0)
            continue;
        if (at[c] < 0 || at[c] >= step || (taken & (1 << at[c])))
            return; // not a packed layout with every byte in its own place
        taken |= 1 << at[c];
    }
    std::memset(plan_.permute, 0, sizeof plan_.permute);
    for (int p = 0; p < 16; ++p) {
        for (int c = 0; c < 4; ++c) {
            if (at[c] < 0)
                continue;
            const int to = p * step + at[c];
            plan_.store |= uint64_t{1} << to;
            if (c < 3) {
                plan_.permute[to] = static_cast<uint8_t>(p * bpp + from[c]);
            } else if (bpp == 4) {
                plan_.permute[to] = static_cast<uint8_t>(p * bpp + 3);
                plan_.alphaSource |= uint64_t{1} << to;
            } else {
                plan_.alphaOpaque |= uint64_t{1} << to;
            }
        }
    }
    plan_.sourceBpp = bpp;
    plan_.step = step;
    usable_ = Available();
}

void FastPackedRows::Convert(const uint8_t* source, uint8_t* row, int32_t width,
                             const uint8_t* curve) const {
#ifdef VEXO_WIDE_ROWS
    if (usable_ && width > 0)
        ConvertWide(plan_, source, row, width, curve);
#else
    (void)source;
    (void)row;
    (void)width;
    (void)curve;
#endif
}

} // namespace vexo
