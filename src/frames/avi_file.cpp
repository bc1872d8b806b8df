// The AVI writer.
#include "frames/avi_file.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "frames/frame_conversion.h"
#include "platform/fs.h"
#include "platform/log.h"

namespace vexo {

// The AVIFile interface and the compression manager the writer is built on.
using media::AVICOMPRESSF_DATARATE, media::AVICOMPRESSF_KEYFRAMES, media::AVICOMPRESSF_VALID,
    media::AVICOMPRESSOPTIONS, media::AVIERR_MEMORY, media::AVIERR_OK, media::AVIFileCreateStream,
    media::AVIFileExit, media::AVIFileInit, media::AVIFileOpen, media::AVIFileRelease,
    media::AVIFrameSlotComplete, media::AVIFrameSlotCompress, media::AVIFrameSlotCompressesApart,
    media::AVIFrameSlotGetBuffer, media::AVIFrameSlotRelease, media::AVIIF_KEYFRAME,
    media::AVIMakeCompressedStream, media::AVISTREAMINFOA, media::AVIStreamCreateFrameSlot,
    media::AVIStreamGetFrameBuffer, media::AVIStreamRelease, media::AVIStreamSetFormat,
    media::AVIStreamWrite, media::AVIStreamWriteFrameSlot, media::AviFrameBuffer,
    media::AviFrameSlot, media::BITMAPINFOHEADER, media::BI_RGB, media::COMPVARS,
    media::ICCompressorFree, media::ICM_GETSTATE, media::ICSendMessage, media::OF_CREATE,
    media::OF_SHARE_DENY_NONE, media::OF_WRITE, media::RECT, media::WAVEFORMATEX,
    media::WAVE_FORMAT_PCM, media::kCompVarsSize, media::streamtypeAUDIO, media::streamtypeVIDEO;

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
                    int32_t length, const media::OutputFormat& output) {
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
    if (AVIFileOpen(&File, path.c_str(), OF_CREATE | OF_WRITE | OF_SHARE_DENY_NONE,
                    media::Fitted(output)) != AVIERR_OK) {
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
    return WriteSource(PixelsOf(*image), position, bytesWritten);
}

bool CAviFile::WritePicture(const media::CapturePicture& picture, int32_t position,
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
    return WriteSource(PixelsOf(picture), position, bytesWritten);
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
    FrameConversion(Gamma).Convert(source, frame);
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
        new PreparedFrame(slot, frameWidth_, frameHeight_, frameBpp_, FrameConversion(Gamma)));
}

template <class Convert>
bool CAviFile::Fill(PreparedFrame& frame, int32_t width, int32_t height, int32_t bpp,
                    Convert convert) {
    frame.filled_ = false;
    AviFrameBuffer buffer;
    if (width != frame.width_ || height != frame.height_ || bpp != frame.bpp_ ||
        AVIFrameSlotGetBuffer(frame.slot_, &buffer) != AVIERR_OK ||
        !convert(buffer, frame.conversion_))
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
                [&](const AviFrameBuffer& buffer, const FrameConversion& conversion) {
                    conversion.Convert(PixelsOf(image), buffer);
                    return true;
                });
}

bool CAviFile::PrepareFrame(PreparedFrame& frame, TgaBandReader& file) {
    return Fill(frame, file.Width, file.Height, file.BytesPerPixel,
                [&](const AviFrameBuffer& buffer, const FrameConversion& conversion) {
                    return conversion.Convert(file, buffer);
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
