// The AVI writer.
#include "frames/avi_file.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "frames/gamma.h"
#include "frames/pixel_rows.h"
#include "platform/fs.h"
#include "platform/log.h"

namespace vexo {

namespace {

// Pixels to make a frame of: rows in their own order, each pixel's red, green, blue(, alpha)
// bytes where the source keeps them (a TGA image has red first, the file blue first).
struct PixelSource {
    const uint8_t* pixels;
    int32_t width;
    int32_t height;
    int32_t bpp;      // 3 or 4
    int redAt;        // 0 or 2; blue is at the other end, green at 1
    ptrdiff_t stride; // from one row to the next
};

const char* const kStatusTexts[8] = {
    "No error",
    "Not enough free memory available",
    "Error creating AVI file",
    "Error creating AVI stream",
    "Error creating compressed AVI stream",
    "Error setting AVI stream format",
    "Error writing AVI frame",
    "Unsupported color depth. RGB only.",
};

const uint8_t* IdentityTable() {
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[i] = static_cast<uint8_t>(i);
        return t;
    }();
    return table.data();
}

PixelSource SourceOf(const TgaImage& image) {
    return {image.Pixels,
            image.Width,
            image.Height,
            image.BytesPerPixel,
            0,
            static_cast<ptrdiff_t>(image.Width) * image.BytesPerPixel};
}

// One row of source pixels into a packed row whose pixels are Step bytes apart, with the
// step, the source pixel size and the byte order known to the compiler.
template <int Bpp, int Step, int RedAt>
void ConvertPackedRow(const uint8_t* s, uint8_t* r, uint8_t* g, uint8_t* b, int32_t width,
                      const uint8_t* curve) {
    for (int32_t x = 0; x < width; ++x, s += Bpp, r += Step, g += Step, b += Step) {
        *r = curve[s[RedAt]];
        *g = curve[s[1]];
        *b = curve[s[2 - RedAt]];
    }
}

// The same into packed pixels of four bytes with alpha.
template <int Bpp, int RedAt>
void ConvertPackedAlphaRow(const uint8_t* s, uint8_t* r, uint8_t* g, uint8_t* b, uint8_t* a,
                           int32_t width, const uint8_t* curve) {
    for (int32_t x = 0; x < width; ++x, s += Bpp, r += 4, g += 4, b += 4, a += 4) {
        *r = curve[s[RedAt]];
        *g = curve[s[1]];
        *b = curve[s[2 - RedAt]];
        *a = Bpp == 4 ? s[3] : 255;
    }
}

template <int RedAt>
void ConvertPackedAlphaRow(const PixelSource& source, const uint8_t* s, uint8_t* r, uint8_t* g,
                           uint8_t* b, uint8_t* a, const uint8_t* curve) {
    if (source.bpp == 3)
        ConvertPackedAlphaRow<3, RedAt>(s, r, g, b, a, source.width, curve);
    else
        ConvertPackedAlphaRow<4, RedAt>(s, r, g, b, a, source.width, curve);
}

template <int RedAt>
void ConvertPackedRow(const PixelSource& source, int step, const uint8_t* s, uint8_t* r, uint8_t* g,
                      uint8_t* b, const uint8_t* curve) {
    if (source.bpp == 3 && step == 3)
        ConvertPackedRow<3, 3, RedAt>(s, r, g, b, source.width, curve);
    else if (source.bpp == 3)
        ConvertPackedRow<3, 4, RedAt>(s, r, g, b, source.width, curve);
    else if (step == 3)
        ConvertPackedRow<4, 3, RedAt>(s, r, g, b, source.width, curve);
    else
        ConvertPackedRow<4, 4, RedAt>(s, r, g, b, source.width, curve);
}

// The one pass over the pixels: the source rows, in their own order, become the stream's
// frame rows with the colour bytes where the stream wants them and the gamma curve applied.
// An alpha byte passes through unchanged; a frame with alpha but a source without gets
// opaque pixels. The source's rows go to the frame's rows from firstRow on.
void ConvertRows(const PixelSource& source, const AviFrameBuffer& frame, const uint8_t* curve,
                 int32_t firstRow = 0) {
    const int bpp = source.bpp;
    const int step = frame.pixelStep;
    const ptrdiff_t rowStep = source.stride;
    const bool packed = !frame.alpha && (step == 3 || step == 4) && (bpp == 3 || bpp == 4);
    const bool packedAlpha = frame.alpha && step == 4 && (bpp == 3 || bpp == 4);
    const int redAt = source.redAt;
    if (packed || packedAlpha) {
        // Whole rows with wide vector instructions where the processor has them.
        uint8_t* first = std::min({frame.red, frame.green, frame.blue});
        if (frame.alpha)
            first = std::min(first, frame.alpha);
        const FastPackedRows fast(PackedRowLayout{
            bpp, redAt, step, static_cast<int>(frame.red - first),
            static_cast<int>(frame.green - first), static_cast<int>(frame.blue - first),
            frame.alpha ? static_cast<int>(frame.alpha - first) : -1});
        if (fast.Usable()) {
            for (int32_t y = 0; y < source.height; ++y)
                fast.Convert(source.pixels + y * rowStep,
                             first + static_cast<size_t>(firstRow + y) * frame.stride, source.width,
                             curve);
            return;
        }
    }
    for (int32_t y = 0; y < source.height; ++y) {
        const uint8_t* s = source.pixels + y * rowStep;
        const size_t row = static_cast<size_t>(firstRow + y) * frame.stride;
        uint8_t* r = frame.red + row;
        uint8_t* g = frame.green + row;
        uint8_t* b = frame.blue + row;
        if (packed) {
            // The common packed layouts: the same conversion with fixed steps.
            if (redAt == 0)
                ConvertPackedRow<0>(source, step, s, r, g, b, curve);
            else
                ConvertPackedRow<2>(source, step, s, r, g, b, curve);
            continue;
        }
        if (packedAlpha) {
            uint8_t* a = frame.alpha + row;
            if (redAt == 0)
                ConvertPackedAlphaRow<0>(source, s, r, g, b, a, curve);
            else
                ConvertPackedAlphaRow<2>(source, s, r, g, b, a, curve);
            continue;
        }
        if (!frame.alpha) {
            for (int32_t x = 0; x < source.width; ++x, s += bpp, r += step, g += step, b += step) {
                *r = curve[s[redAt]];
                *g = curve[s[1]];
                *b = curve[s[2 - redAt]];
            }
            continue;
        }
        uint8_t* a = frame.alpha + row;
        for (int32_t x = 0; x < source.width;
             ++x, s += bpp, r += step, g += step, b += step, a += step) {
            *r = curve[s[redAt]];
            *g = curve[s[1]];
            *b = curve[s[2 - redAt]];
            *a = bpp == 4 ? s[3] : 255;
        }
    }
}

} // namespace

CAviFile::CAviFile() {
    Reset();
}

CAviFile::~CAviFile() {
    if (File || Stream || CompressedStream || SoundStream)
        Close(AVI_OK);
    ICCompressorFree(&CodecVars);
}

const char* CAviFile::StatusText(unsigned code) {
    return code < 8 ? kStatusTexts[code] : "Unknown error";
}

void CAviFile::Reset() {
    ICCompressorFree(&CodecVars);
    File = nullptr;
    Stream = nullptr;
    CompressedStream = nullptr;
    SoundStream = nullptr;
    soundBlock_ = 0;
    soundSamples_ = 0;
    Fps = 25;
    Width = 0;
    Height = 0;
    StreamName.clear();
    Gamma = 1.0f;
    LastError = AVI_OK;
    FileName.clear();
    CompressOptions = AVICOMPRESSOPTIONS{};
    compressorState_.clear();
    frameWidth_ = frameHeight_ = frameBpp_ = 0;
    CodecVars = COMPVARS{};
    CodecVars.cbSize = kCompVarsSize;
}

bool CAviFile::Open(const std::string& fileName, int32_t width, int32_t height, int32_t fps,
                    int32_t length) {
    // A file still open from before is completed first rather than lost.
    if (File || Stream || CompressedStream || SoundStream) {
        // The caller's fresh choice and stream name survive the close.
        const COMPVARS keep = CodecVars;
        const std::string name = StreamName;
        CodecVars = COMPVARS{};
        Close(AVI_OK);
        CodecVars = keep;
        StreamName = name;
    }
    AVIFileInit();

    platform::DeleteFileAt(fileName);
    const std::string path = platform::ResolvePathCase(fileName);
    if (AVIFileOpen(&File, path.c_str(), OF_CREATE | OF_WRITE | OF_SHARE_DENY_NONE) != AVIERR_OK) {
        Close(AVI_CREATE_FILE);
        return false;
    }

    AVISTREAMINFOA info;
    std::memset(&info, 0, sizeof info);
    info.fccType = streamtypeVIDEO;
    info.fccHandler = CodecVars.fccHandler;
    info.dwScale = 1;
    info.dwRate = static_cast<uint32_t>(fps);
    info.dwLength = static_cast<uint32_t>(length);
    info.dwQuality = 0xFFFFFFFFu;
    info.rcFrame = RECT{0, 0, width, height};
    if (!StreamName.empty())
        std::memcpy(info.szName, StreamName.data(),
                    std::min(StreamName.size(), sizeof info.szName));

    CompressOptions = AVICOMPRESSOPTIONS{};
    CompressOptions.fccType = streamtypeVIDEO;
    CompressOptions.fccHandler = CodecVars.fccHandler;
    CompressOptions.dwKeyFrameEvery = static_cast<uint32_t>(CodecVars.lKey);
    CompressOptions.dwQuality = static_cast<uint32_t>(CodecVars.lQ);
    CompressOptions.dwBytesPerSecond = static_cast<uint32_t>(CodecVars.lDataRate) * 1024u;
    CompressOptions.dwFlags = AVICOMPRESSF_DATARATE | AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
    CompressOptions.lpParms = CodecVars.lpState;
    CompressOptions.cbParms = static_cast<uint32_t>(CodecVars.cbState > 0 ? CodecVars.cbState : 0);
    // The options the user configured live in the compressor handle of the record (its
    // stored state goes there); the compressing stream opens its own compressor, so it is
    // handed that state unless the record carries one of its own.
    if (!CompressOptions.lpParms && CodecVars.hic) {
        const long size = ICSendMessage(CodecVars.hic, ICM_GETSTATE, nullptr, 0);
        if (size > 0) {
            compressorState_.resize(static_cast<size_t>(size));
            if (ICSendMessage(CodecVars.hic, ICM_GETSTATE, compressorState_.data(), size) == size) {
                CompressOptions.lpParms = compressorState_.data();
                CompressOptions.cbParms = static_cast<uint32_t>(size);
            }
        }
    }

    if (AVIFileCreateStream(File, &Stream, &info) != AVIERR_OK) {
        Close(AVI_CREATE_STREAM);
        platform::DeleteFileAt(path); // never became an AVI file
        return false;
    }
    if (AVIMakeCompressedStream(&CompressedStream, Stream, &CompressOptions) != AVIERR_OK) {
        Close(AVI_CREATE_COMPRESSED);
        platform::DeleteFileAt(path);
        return false;
    }

    FileName = fileName;
    LastError = AVI_OK;
    Width = width;
    Height = height;
    Fps = fps;
    return true;
}

namespace {

// Whether the image's pixels cover its size, so that it can be described as a frame.
bool PixelsCoverSize(const TgaImage& image) {
    const int64_t needed = static_cast<int64_t>(image.Width) * image.Height * image.BytesPerPixel;
    return image.Pixels && image.Width > 0 && image.Height > 0 && image.DataSize >= needed;
}

const uint8_t* CurveFor(float gamma) {
    return gamma != 1.0f ? GammaTable(gamma) : IdentityTable();
}

} // namespace

bool CAviFile::WriteFrame(const TgaImage* image, int32_t position, int32_t* bytesWritten) {
    LastError = AVI_OK;
    if (bytesWritten)
        *bytesWritten = 0;
    if (!image) {
        Close(AVI_MEMORY); // there is nothing to make the frame from
        return false;
    }
    const int32_t bpp = image->BytesPerPixel;
    if (bpp != 3 && bpp != 4) {
        Close(AVI_DEPTH);
        return false;
    }
    if (!PixelsCoverSize(*image)) {
        Close(AVI_SET_FORMAT);
        return false;
    }
    return WriteSource(SourceOf(*image), position, bytesWritten);
}

bool CAviFile::WritePicture(const platform::CapturePicture& picture, int32_t position,
                            int32_t* bytesWritten) {
    LastError = AVI_OK;
    if (bytesWritten)
        *bytesWritten = 0;
    if (picture.bytesPerPixel != 3 && picture.bytesPerPixel != 4) {
        Close(AVI_DEPTH);
        return false;
    }
    if (!picture.bottomRow || picture.width <= 0 || picture.height <= 0) {
        Close(AVI_SET_FORMAT);
        return false;
    }
    // The picture's rows run from the bottom up, as the frame's do; the file's byte order
    // has blue first.
    return WriteSource(PixelSource{picture.bottomRow, picture.width, picture.height,
                                   picture.bytesPerPixel, 2, picture.stride},
                       position, bytesWritten);
}

template <class Source>
bool CAviFile::WriteSource(const Source& source, int32_t position, int32_t* bytesWritten) {
    const int32_t bpp = source.bpp;

    // The frame format: a bottom-up DIB (positive height); for 32 bits the header is
    // followed by 12 zero bytes.
    struct {
        BITMAPINFOHEADER header;
        uint8_t extra[12];
    } format{};
    format.header.biSize = 40;
    format.header.biWidth = source.width;
    format.header.biHeight = source.height;
    format.header.biPlanes = 1;
    format.header.biBitCount = static_cast<uint16_t>(bpp * 8);
    format.header.biCompression = BI_RGB;
    format.header.biSizeImage = static_cast<uint32_t>(source.width * source.height * bpp);
    const int32_t formatSize = bpp == 3 ? 40 : 52;

    if (AVIStreamSetFormat(CompressedStream, position, &format, formatSize) != AVIERR_OK) {
        Close(AVI_SET_FORMAT);
        return false;
    }
    frameWidth_ = source.width;
    frameHeight_ = source.height;
    frameBpp_ = bpp;
    AviFrameBuffer frame;
    const long got = AVIStreamGetFrameBuffer(CompressedStream, &frame);
    if (got != AVIERR_OK) {
        Close(got == AVIERR_MEMORY ? AVI_MEMORY : AVI_WRITE_FRAME);
        return false;
    }
    ConvertRows(source, frame, CurveFor(Gamma));
    if (AVIStreamWrite(CompressedStream, position, 1, frame.data, frame.size, AVIIF_KEYFRAME,
                       nullptr, bytesWritten) != AVIERR_OK) {
        // Closing completes the file, so the frames written before stay readable.
        Close(AVI_WRITE_FRAME);
        return false;
    }
    return true;
}

bool CAviFile::AddSound(int32_t samplesPerSecond, int32_t channels, int32_t bitsPerSample) {
    if (!File || SoundStream || frameBpp_ != 0 || samplesPerSecond <= 0 || channels <= 0 ||
        channels > 8 || (bitsPerSample != 8 && bitsPerSample != 16))
        return false;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<uint16_t>(channels);
    format.nSamplesPerSec = static_cast<uint32_t>(samplesPerSecond);
    format.nBlockAlign = static_cast<uint16_t>(channels * bitsPerSample / 8);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    format.wBitsPerSample = static_cast<uint16_t>(bitsPerSample);

    AVISTREAMINFOA info;
    std::memset(&info, 0, sizeof info);
    info.fccType = streamtypeAUDIO;
    info.dwScale = format.nBlockAlign;
    info.dwRate = format.nAvgBytesPerSec;
    info.dwQuality = 0xFFFFFFFFu;
    info.dwSampleSize = format.nBlockAlign;
    if (AVIFileCreateStream(File, &SoundStream, &info) != AVIERR_OK)
        return false;
    if (AVIStreamSetFormat(SoundStream, 0, &format, sizeof format) != AVIERR_OK) {
        AVIStreamRelease(SoundStream);
        SoundStream = nullptr;
        return false;
    }
    soundBlock_ = format.nBlockAlign;
    soundSamples_ = 0;
    return true;
}

bool CAviFile::WriteSound(const uint8_t* data, int32_t bytes) {
    LastError = AVI_OK;
    if (!SoundStream)
        return false;
    const int32_t samples = bytes / soundBlock_;
    if (AVIStreamWrite(SoundStream, static_cast<int32_t>(soundSamples_), samples, data, bytes, 0,
                       nullptr, nullptr) != AVIERR_OK) {
        // Closing completes the file, so what was written before stays readable.
        Close(AVI_WRITE_FRAME);
        return false;
    }
    soundSamples_ += samples;
    return true;
}

CAviFile::PreparedFrame::~PreparedFrame() {
    AVIFrameSlotRelease(slot_);
}

bool CAviFile::PreparedFrame::CompletesApart() const {
    return AVIFrameSlotCompressesApart(slot_);
}

bool CAviFile::PreparedFrame::Complete() const {
    return filled_ && AVIFrameSlotComplete(slot_);
}

std::unique_ptr<CAviFile::PreparedFrame> CAviFile::NewPreparedFrame(bool apart,
                                                                    const PreparedFrame* partner) {
    if (!CompressedStream || frameBpp_ == 0)
        return nullptr;
    AviFrameSlot* slot = nullptr;
    if (AVIStreamCreateFrameSlot(CompressedStream, apart, partner ? partner->slot_ : nullptr,
                                 &slot) != AVIERR_OK)
        return nullptr;
    // Gamma and format are fixed while frames are written, so the frame takes them now.
    return std::unique_ptr<PreparedFrame>(
        new PreparedFrame(slot, frameWidth_, frameHeight_, frameBpp_, CurveFor(Gamma)));
}

template <class Convert>
bool CAviFile::Fill(PreparedFrame& frame, int32_t width, int32_t height, int32_t bpp,
                    Convert convert) {
    frame.filled_ = false;
    AviFrameBuffer buffer;
    if (width != frame.width_ || height != frame.height_ || bpp != frame.bpp_ ||
        AVIFrameSlotGetBuffer(frame.slot_, &buffer) != AVIERR_OK || !convert(buffer, frame.curve_))
        return false;
    // A compressor that fails here gets the frame again on the writing thread, where its
    // failure is reported for the frame it belongs to.
    AVIFrameSlotCompress(frame.slot_);
    frame.filled_ = true;
    return true;
}

bool CAviFile::PrepareFrame(PreparedFrame& frame, const TgaImage& image) {
    if (!PixelsCoverSize(image)) {
        frame.filled_ = false;
        return false;
    }
    return Fill(frame, image.Width, image.Height, image.BytesPerPixel,
                [&](const AviFrameBuffer& buffer, const uint8_t* curve) {
                    ConvertRows(SourceOf(image), buffer, curve);
                    return true;
                });
}

bool CAviFile::PrepareFrame(PreparedFrame& frame, TgaBandReader& file) {
    return Fill(frame, file.Width, file.Height, file.BytesPerPixel,
                [&](const AviFrameBuffer& buffer, const uint8_t* curve) {
                    int32_t row = 0;
                    int32_t rows = 0;
                    while (const unsigned char* band = file.Next(&rows)) {
                        // The file stores blue first.
                        ConvertRows(
                            PixelSource{band, file.Width, rows, file.BytesPerPixel, 2,
                                        static_cast<ptrdiff_t>(file.Width) * file.BytesPerPixel},
                            buffer, curve, row);
                        row += rows;
                    }
                    return file.Complete();
                });
}

bool CAviFile::WritePreparedFrame(PreparedFrame& frame, int32_t position, int32_t* bytesWritten) {
    LastError = AVI_OK;
    if (bytesWritten)
        *bytesWritten = 0;
    if (!frame.filled_) {
        Close(AVI_MEMORY); // there is nothing to make the frame from
        return false;
    }
    frame.filled_ = false;
    if (!CompressedStream) {
        Close(AVI_SET_FORMAT);
        return false;
    }
    if (AVIStreamWriteFrameSlot(CompressedStream, position, frame.slot_, bytesWritten) !=
        AVIERR_OK) {
        // Closing completes the file, so the frames written before stay readable.
        Close(AVI_WRITE_FRAME);
        return false;
    }
    return true;
}

void CAviFile::Close(uint8_t code) {
    if (code != AVI_OK)
        platform::LogFailure("avi", std::string(StatusText(code)) +
                                        (FileName.empty() ? "" : " (" + FileName + ")"));
    if (Stream)
        AVIStreamRelease(Stream);
    if (CompressedStream)
        AVIStreamRelease(CompressedStream);
    if (SoundStream)
        AVIStreamRelease(SoundStream);
    if (File)
        AVIFileRelease(File);
    AVIFileExit();
    Reset();
    LastError = code;
}

} // namespace vexo
