// The AVI writer on the AVIFile interface.
#include "frames/avi_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

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

// Rows of a DIB are whole multiples of 4 bytes.
size_t DibStride(int32_t width, int32_t bytesPerPixel) {
    return (static_cast<size_t>(width) * static_cast<size_t>(bytesPerPixel) + 3) & ~size_t{3};
}

const uint8_t* IdentityTable() {
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> t{};
        for (int v = 0; v < 256; ++v)
            t[v] = static_cast<uint8_t>(v);
        return t;
    }();
    return table.data();
}

} // namespace

const char* AviStatusText(int code) {
    if (code < 0 || code > 7)
        return "Unknown error";
    return kStatusTexts[code];
}

CAviFile::CAviFile() {
    // Reset frees what a valid record owns: the record starts out empty, not valid.
    std::memset(&CodecVars, 0, sizeof CodecVars);
    Reset();
}

// Releases the texts only; an open file is not closed here.
CAviFile::~CAviFile() = default;

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
    std::memset(&CompressOptions, 0, sizeof CompressOptions);
    std::memset(&CodecVars, 0, sizeof CodecVars);
    CodecVars.cbSize = kCompVarsSize;
    state_.clear();
    state_.shrink_to_fit();
    frame_.clear();
    frame_.shrink_to_fit();
}

bool CAviFile::Open(const std::string& fileName, int32_t width, int32_t height, int32_t fps,
                    int32_t length) {
    if (File || Stream || CompressedStream) {
        // Still open on another file: complete that one first, keeping the codec choice.
        AVIStreamRelease(Stream);
        AVIStreamRelease(CompressedStream);
        AVIFileRelease(File);
        AVIFileExit();
        File = nullptr;
        Stream = nullptr;
        CompressedStream = nullptr;
    }
    AVIFileInit();
    if (platform::FileExists(fileName))
        platform::DeleteFileAt(fileName);
    if (AVIFileOpenA(&File, fileName.c_str(), OF_CREATE | OF_WRITE | OF_SHARE_DENY_NONE, nullptr) !=
        AVIERR_OK) {
        Close(AVI_CREATE_FILE);
        return false;
    }

    AVISTREAMINFOA info{}; // all zero
    info.fccType = streamtypeVIDEO;
    info.fccHandler = CodecVars.fccHandler;
    info.dwScale = 1;
    info.dwRate = static_cast<uint32_t>(fps);
    info.dwLength = static_cast<uint32_t>(length);
    info.dwQuality = 0xFFFFFFFFu;
    info.rcFrame.right = width;
    info.rcFrame.bottom = height;
    if (!StreamName.empty())
        std::memcpy(info.szName, StreamName.data(),
                    std::min(StreamName.size(), sizeof info.szName));

    std::memset(&CompressOptions, 0, sizeof CompressOptions);
    CompressOptions.fccType = streamtypeVIDEO;
    CompressOptions.fccHandler = CodecVars.fccHandler;
    CompressOptions.dwKeyFrameEvery = static_cast<uint32_t>(CodecVars.lKey);
    CompressOptions.dwQuality = static_cast<uint32_t>(CodecVars.lQ);
    CompressOptions.dwBytesPerSecond = static_cast<uint32_t>(CodecVars.lDataRate) * 1024u;
    CompressOptions.dwFlags = AVICOMPRESSF_DATARATE | AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
    CompressOptions.lpParms = CodecVars.lpState;
    CompressOptions.cbParms = static_cast<uint32_t>(CodecVars.cbState);
    if (!CompressOptions.lpParms && CodecVars.hic) {
        // The stored options were restored into the compressor of the record; the
        // compressing stream opens its own compressor, so it is handed the same state.
        const long size = ICSendMessage(CodecVars.hic, ICM_GETSTATE, nullptr, 0);
        if (size > 0) {
            state_.assign(static_cast<size_t>(size), 0);
            if (ICSendMessage(CodecVars.hic, ICM_GETSTATE, state_.data(), size) == size) {
                CompressOptions.lpParms = state_.data();
                CompressOptions.cbParms = static_cast<uint32_t>(size);
            }
        }
    }

    if (AVIFileCreateStreamA(File, &Stream, &info) != AVIERR_OK) {
        Close(AVI_CREATE_STREAM);
        return false;
    }
    if (AVIMakeCompressedStream(&CompressedStream, Stream, &CompressOptions, nullptr) !=
        AVIERR_OK) {
        Close(AVI_CREATE_COMPRESSED_STREAM);
        return false;
    }
    // The compressing stream has taken the state; the options no longer point at it.
    if (CompressOptions.lpParms == state_.data()) {
        CompressOptions.lpParms = nullptr;
        CompressOptions.cbParms = 0;
    }
    state_.clear();

    FileName = fileName;
    LastError = AVI_OK;
    Width = width;
    Height = height;
    Fps = fps;
    return true;
}

void CAviFile::SetGamma(float gamma) {
    Gamma = gamma;
}

bool CAviFile::BuildFrame(const TgaImage& image) {
    const int32_t bpp = image.BytesPerPixel;
    const size_t stride = DibStride(image.Width, bpp);
    const size_t rowBytes = static_cast<size_t>(image.Width) * static_cast<size_t>(bpp);
    try {
        frame_.assign(stride * static_cast<size_t>(image.Height), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Red and blue change places; the gamma curve, when set, goes through the same table
    // lookup; a fourth byte (alpha) passes unchanged.
    const uint8_t* curve = Gamma != 1.0f ? GammaTable(Gamma) : IdentityTable();

    for (int32_t row = 0; row < image.Height; ++row) {
        const unsigned char* src = image.Pixels + static_cast<size_t>(row) * rowBytes;
        unsigned char* dst = frame_.data() + static_cast<size_t>(row) * stride;
        if (bpp == 3) {
            for (int32_t x = 0; x < image.Width; ++x, src += 3, dst += 3) {
                dst[0] = curve[src[2]];
                dst[1] = curve[src[1]];
                dst[2] = curve[src[0]];
            }
        } else {
            for (int32_t x = 0; x < image.Width; ++x, src += 4, dst += 4) {
                dst[0] = curve[src[2]];
                dst[1] = curve[src[1]];
                dst[2] = curve[src[0]];
                dst[3] = src[3];
            }
        }
    }
    return true;
}

bool CAviFile::WriteFrame(const TgaImage* image, int32_t position, int32_t* bytesWritten) {
    LastError = AVI_OK;
    if (!image) {
        Close(AVI_NO_MEMORY);
        return false;
    }
    if (image->BytesPerPixel != 3 && image->BytesPerPixel != 4) {
        Close(AVI_COLOR_DEPTH);
        return false;
    }
    // An image whose record does not describe its pixels is never read.
    const int64_t size = static_cast<int64_t>(image->Width) * image->Height * image->BytesPerPixel;
    if (!image->Pixels || image->Width <= 0 || image->Height <= 0 || size != image->DataSize) {
        Close(AVI_SET_FORMAT);
        return false;
    }
    if (!CompressedStream) {
        Close(AVI_SET_FORMAT);
        return false;
    }
    if (!BuildFrame(*image)) {
        Close(AVI_NO_MEMORY);
        return false;
    }

    // The header, followed for 32-bit frames by 12 zero bytes.
    unsigned char format[52] = {};
    BITMAPINFOHEADER header{};
    header.biSize = 40;
    header.biWidth = image->Width;
    header.biHeight = image->Height; // positive: bottom-up
    header.biPlanes = 1;
    header.biBitCount = static_cast<uint16_t>(image->BytesPerPixel * 8);
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<uint32_t>(frame_.size());
    std::memcpy(format, &header, sizeof header);
    const long formatSize = image->BytesPerPixel == 4 ? 52 : 40;

    if (AVIStreamSetFormat(CompressedStream, position, format, formatSize) != AVIERR_OK) {
        Close(AVI_SET_FORMAT);
        return false;
    }
    long written = 0;
    if (AVIStreamWrite(CompressedStream, position, 1, frame_.data(),
                       static_cast<long>(frame_.size()), AVIIF_KEYFRAME, nullptr,
                       &written) != AVIERR_OK) {
        Close(AVI_WRITE_FRAME);
        return false;
    }
    if (bytesWritten)
        *bytesWritten = static_cast<int32_t>(written);
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
