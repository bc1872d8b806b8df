// The AVI writer.
#include "frames/avi_file.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "frames/gamma.h"
#include "platform/fs.h"

namespace vexo {

namespace {

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

// The one pass over the pixels: the image's red-green-blue(-alpha) rows, in their own order,
// become the stream's frame rows with the colour bytes where the stream wants them and the
// gamma curve applied. An alpha byte passes through unchanged; a frame with alpha but an
// image without gets opaque pixels.
void ConvertRows(const TgaImage& image, const AviFrameBuffer& frame, const uint8_t* curve) {
    const int bpp = image.BytesPerPixel;
    const size_t rowBytes = static_cast<size_t>(image.Width) * bpp;
    const int step = frame.pixelStep;
    for (int32_t y = 0; y < image.Height; ++y) {
        const uint8_t* s = image.Pixels + static_cast<size_t>(y) * rowBytes;
        const size_t row = static_cast<size_t>(y) * frame.stride;
        uint8_t* r = frame.red + row;
        uint8_t* g = frame.green + row;
        uint8_t* b = frame.blue + row;
        if (!frame.alpha) {
            for (int32_t x = 0; x < image.Width; ++x, s += bpp, r += step, g += step, b += step) {
                *r = curve[s[0]];
                *g = curve[s[1]];
                *b = curve[s[2]];
            }
            continue;
        }
        uint8_t* a = frame.alpha + row;
        for (int32_t x = 0; x < image.Width;
             ++x, s += bpp, r += step, g += step, b += step, a += step) {
            *r = curve[s[0]];
            *g = curve[s[1]];
            *b = curve[s[2]];
            *a = bpp == 4 ? s[3] : 255;
        }
    }
}

} // namespace

CAviFile::CAviFile() {
    Reset();
}

CAviFile::~CAviFile() {
    if (File || Stream || CompressedStream)
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
    Fps = 25;
    Width = 0;
    Height = 0;
    StreamName.clear();
    Gamma = 1.0f;
    LastError = AVI_OK;
    FileName.clear();
    CompressOptions = AVICOMPRESSOPTIONS{};
    compressorState_.clear();
    CodecVars = COMPVARS{};
    CodecVars.cbSize = kCompVarsSize;
}

bool CAviFile::Open(const std::string& fileName, int32_t width, int32_t height, int32_t fps,
                    int32_t length) {
    // A file still open from before is completed first rather than lost.
    if (File || Stream || CompressedStream) {
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
    // An image whose pixels do not cover its size cannot be described as a frame.
    const int64_t needed = static_cast<int64_t>(image->Width) * image->Height * bpp;
    if (!image->Pixels || image->Width <= 0 || image->Height <= 0 || image->DataSize < needed) {
        Close(AVI_SET_FORMAT);
        return false;
    }

    // The frame format: a bottom-up DIB (positive height); for 32 bits the header is
    // followed by 12 zero bytes.
    struct {
        BITMAPINFOHEADER header;
        uint8_t extra[12];
    } format{};
    format.header.biSize = 40;
    format.header.biWidth = image->Width;
    format.header.biHeight = image->Height;
    format.header.biPlanes = 1;
    format.header.biBitCount = static_cast<uint16_t>(bpp * 8);
    format.header.biCompression = BI_RGB;
    format.header.biSizeImage = static_cast<uint32_t>(image->DataSize);
    const int32_t formatSize = bpp == 3 ? 40 : 52;

    if (AVIStreamSetFormat(CompressedStream, position, &format, formatSize) != AVIERR_OK) {
        Close(AVI_SET_FORMAT);
        return false;
    }
    AviFrameBuffer frame;
    const long got = AVIStreamGetFrameBuffer(CompressedStream, &frame);
    if (got != AVIERR_OK) {
        Close(got == AVIERR_MEMORY ? AVI_MEMORY : AVI_WRITE_FRAME);
        return false;
    }
    ConvertRows(*image, frame, Gamma != 1.0f ? GammaTable(Gamma) : IdentityTable());
    if (AVIStreamWrite(CompressedStream, position, 1, frame.data, frame.size, AVIIF_KEYFRAME,
                       nullptr, bytesWritten) != AVIERR_OK) {
        // Closing completes the file, so the frames written before stay readable.
        Close(AVI_WRITE_FRAME);
        return false;
    }
    return true;
}

void CAviFile::Close(uint8_t code) {
    if (Stream)
        AVIStreamRelease(Stream);
    if (CompressedStream)
        AVIStreamRelease(CompressedStream);
    if (File)
        AVIFileRelease(File);
    AVIFileExit();
    Reset();
    LastError = code;
}

} // namespace vexo
