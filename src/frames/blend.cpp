// The blend in three passes over a row's samples, each one read of the picture: the first
// picture of a group is widened into the running sum, the middle ones are added to it, and the
// last one is added and divided in the same pass, straight into the finished picture. The
// division by K = 2^shift rounds halves to even: the quotient goes up when the remainder is
// more than K/2, or exactly K/2 with an odd quotient, which is
//     (s + K/2 - 1 + ((s >> shift) & 1)) >> shift
// and s + K/2 stays below 65536 for K up to 256.
#include "frames/blend.h"

#include <cstring>
#include <new>

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define VEXO_BLEND_X86 1
#include <immintrin.h>
#endif

namespace vexo {

struct FrameBlender::Kernels {
    void (*start)(const uint8_t* source, uint16_t* sum, size_t n);
    void (*add)(const uint8_t* source, uint16_t* sum, size_t n);
    void (*finish)(const uint8_t* source, const uint16_t* sum, uint8_t* out, size_t n, int shift);
};

namespace {

inline uint8_t Divide(unsigned s, int shift) {
    const unsigned bias = (1u << shift >> 1) - 1;
    return static_cast<uint8_t>((s + bias + ((s >> shift) & 1)) >> shift);
}

// Plain code, also for the samples after the last whole vector.
void StartPlain(const uint8_t* source, uint16_t* sum, size_t n) {
    for (size_t i = 0; i < n; ++i)
        sum[i] = source[i];
}
void AddPlain(const uint8_t* source, uint16_t* sum, size_t n) {
    for (size_t i = 0; i < n; ++i)
        sum[i] = static_cast<uint16_t>(sum[i] + source[i]);
}
void FinishPlain(const uint8_t* source, const uint16_t* sum, uint8_t* out, size_t n, int shift) {
    for (size_t i = 0; i < n; ++i)
        out[i] = Divide(unsigned{sum[i]} + source[i], shift);
}

#ifdef VEXO_BLEND_X86
// 16 samples at a time in two 8 x 16-bit registers.
inline __m128i DivideSse2(__m128i s, __m128i count, __m128i bias, __m128i one) {
    const __m128i odd = _mm_and_si128(_mm_srl_epi16(s, count), one);
    return _mm_srl_epi16(_mm_add_epi16(_mm_add_epi16(s, bias), odd), count);
}

void StartSse2(const uint8_t* source, uint16_t* sum, size_t n) {
    const __m128i zero = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sum + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sum + i + 8), _mm_unpackhi_epi8(v, zero));
    }
    StartPlain(source + i, sum + i, n - i);
}

void AddSse2(const uint8_t* source, uint16_t* sum, size_t n) {
    const __m128i zero = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        __m128i* low = reinterpret_cast<__m128i*>(sum + i);
        __m128i* high = reinterpret_cast<__m128i*>(sum + i + 8);
        _mm_storeu_si128(low, _mm_add_epi16(_mm_loadu_si128(low), _mm_unpacklo_epi8(v, zero)));
        _mm_storeu_si128(high, _mm_add_epi16(_mm_loadu_si128(high), _mm_unpackhi_epi8(v, zero)));
    }
    AddPlain(source + i, sum + i, n - i);
}

void FinishSse2(const uint8_t* source, const uint16_t* sum, uint8_t* out, size_t n, int shift) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi16(1);
    const __m128i bias = _mm_set1_epi16(static_cast<short>((1 << shift >> 1) - 1));
    const __m128i count = _mm_cvtsi32_si128(shift);
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        const __m128i low = _mm_add_epi16(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(sum + i)), _mm_unpacklo_epi8(v, zero));
        const __m128i high =
            _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sum + i + 8)),
                          _mm_unpackhi_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_packus_epi16(DivideSse2(low, count, bias, one),
                                          DivideSse2(high, count, bias, one)));
    }
    FinishPlain(source + i, sum + i, out + i, n - i, shift);
}

#define VEXO_AVX2 __attribute__((target("avx2")))

// 32 samples at a time in two 16 x 16-bit registers.
VEXO_AVX2 inline __m256i Widen(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

VEXO_AVX2 inline __m256i DivideAvx2(__m256i s, __m128i count, __m256i bias, __m256i one) {
    const __m256i odd = _mm256_and_si256(_mm256_srl_epi16(s, count), one);
    return _mm256_srl_epi16(_mm256_add_epi16(_mm256_add_epi16(s, bias), odd), count);
}

VEXO_AVX2 void StartAvx2(const uint8_t* source, uint16_t* sum, size_t n) {
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sum + i), Widen(source + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sum + i + 16), Widen(source + i + 16));
    }
    StartPlain(source + i, sum + i, n - i);
}

VEXO_AVX2 void AddAvx2(const uint8_t* source, uint16_t* sum, size_t n) {
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i* low = reinterpret_cast<__m256i*>(sum + i);
        __m256i* high = reinterpret_cast<__m256i*>(sum + i + 16);
        _mm256_storeu_si256(low, _mm256_add_epi16(_mm256_loadu_si256(low), Widen(source + i)));
        _mm256_storeu_si256(high,
                            _mm256_add_epi16(_mm256_loadu_si256(high), Widen(source + i + 16)));
    }
    AddPlain(source + i, sum + i, n - i);
}

VEXO_AVX2 void FinishAvx2(const uint8_t* source, const uint16_t* sum, uint8_t* out, size_t n,
                          int shift) {
    const __m256i one = _mm256_set1_epi16(1);
    const __m256i bias = _mm256_set1_epi16(static_cast<short>((1 << shift >> 1) - 1));
    const __m128i count = _mm_cvtsi32_si128(shift);
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i low = _mm256_add_epi16(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sum + i)), Widen(source + i));
        const __m256i high =
            _mm256_add_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(sum + i + 16)),
                             Widen(source + i + 16));
        // The pack interleaves the 128-bit halves of its two inputs; put them back in order.
        const __m256i packed = _mm256_packus_epi16(DivideAvx2(low, count, bias, one),
                                                   DivideAvx2(high, count, bias, one));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm256_permute4x64_epi64(packed, 0xD8));
    }
    FinishPlain(source + i, sum + i, out + i, n - i, shift);
}

constexpr FrameBlender::Kernels kBaseline{StartSse2, AddSse2, FinishSse2};
constexpr FrameBlender::Kernels kWidest{StartAvx2, AddAvx2, FinishAvx2};

const FrameBlender::Kernels* ChooseKernels(FrameBlender::Vectors vectors) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return vectors == FrameBlender::Vectors::Widest && avx2 ? &kWidest : &kBaseline;
}
#else
constexpr FrameBlender::Kernels kPlain{StartPlain, AddPlain, FinishPlain};

const FrameBlender::Kernels* ChooseKernels(FrameBlender::Vectors) {
    return &kPlain;
}
#endif

} // namespace

bool FrameBlender::ValidSubFrames(int subFrames) {
    return subFrames >= 1 && subFrames <= 256 && (subFrames & (subFrames - 1)) == 0;
}

FrameBlender::FrameBlender(int subFrames, Vectors vectors)
    : subFrames_(subFrames), shift_(0), kernels_(ChooseKernels(vectors)) {
    while ((2 << shift_) <= subFrames_)
        ++shift_;
}

FrameBlender::~FrameBlender() = default;

void FrameBlender::Drop() {
    pending_ = 0;
    open_ = false;
}

void FrameBlender::Reset() {
    Drop();
}

bool FrameBlender::BeginPicture(int32_t width, int32_t height, int32_t bytesPerPixel) {
    if (open_)
        Drop(); // the picture before was not finished: the running sum is incomplete
    if ((bytesPerPixel != 3 && bytesPerPixel != 4) || width <= 0 || height <= 0) {
        Drop();
        return false;
    }
    if (width != width_ || height != height_ || bytesPerPixel != bytesPerPixel_) {
        Drop();
        width_ = height_ = bytesPerPixel_ = 0;
        const size_t samples = size_t(width) * size_t(height) * size_t(bytesPerPixel);
        if (samples > capacity_) {
            sum_.reset();
            out_.reset();
            capacity_ = 0;
            // With one sub-frame pictures are copied as they are, without a sum.
            if (subFrames_ > 1) {
                sum_.reset(new (std::nothrow) uint16_t[samples]);
                if (!sum_)
                    return false;
            }
            out_.reset(new (std::nothrow) uint8_t[samples]);
            if (!out_) {
                sum_.reset();
                return false;
            }
            capacity_ = samples;
        }
        width_ = width;
        height_ = height;
        bytesPerPixel_ = bytesPerPixel;
    }
    open_ = true;
    rowsGiven_ = 0;
    return true;
}

void FrameBlender::AddRows(int32_t firstRow, int32_t rows, const uint8_t* bottomRow,
                           ptrdiff_t stride) {
    if (!open_ || firstRow < 0 || rows < 0 || rows > height_ - firstRow)
        return;
    const size_t n = size_t(width_) * size_t(bytesPerPixel_);
    for (int32_t r = 0; r < rows; ++r) {
        const uint8_t* source = bottomRow + r * stride;
        const size_t at = size_t(firstRow + r) * n;
        if (subFrames_ == 1)
            std::memcpy(out_.get() + at, source, n);
        else if (pending_ == 0)
            kernels_->start(source, sum_.get() + at, n);
        else if (pending_ + 1 < subFrames_)
            kernels_->add(source, sum_.get() + at, n);
        else
            kernels_->finish(source, sum_.get() + at, out_.get() + at, n, shift_);
    }
    rowsGiven_ += rows;
}

FrameBlender::Step FrameBlender::EndPicture() {
    if (!open_ || rowsGiven_ != height_) {
        Drop();
        return Step::Refused;
    }
    open_ = false;
    if (++pending_ < subFrames_)
        return Step::Taken;
    pending_ = 0;
    blended_ = media::CapturePicture{out_.get(), ptrdiff_t(width_) * bytesPerPixel_, width_,
                                     height_, bytesPerPixel_};
    return Step::Blended;
}

FrameBlender::Step FrameBlender::Add(const media::CapturePicture& picture) {
    if (subFrames_ == 1) {
        Drop();
        if ((picture.bytesPerPixel != 3 && picture.bytesPerPixel != 4) || picture.width <= 0 ||
            picture.height <= 0 || !picture.bottomRow)
            return Step::Refused;
        blended_ = picture;
        return Step::Blended;
    }
    if (!picture.bottomRow || !BeginPicture(picture.width, picture.height, picture.bytesPerPixel))
        return Step::Refused;
    AddRows(0, picture.height, picture.bottomRow, picture.stride);
    return EndPicture();
}

} // namespace vexo
