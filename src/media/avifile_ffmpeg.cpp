// The AVIFile interface on libavformat's AVI muxer and libavcodec's encoders: the public
// functions, over the file being written (avifile_mux.cpp).
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "media/avifile_internal.h"
#include "media/ffmpeg_log.h"
#include "platform/memory.h"

namespace vexo::media {

namespace {

std::atomic<int> initCount{0};
std::atomic<uint64_t> fileSerials{0};

bool ValidFormat(const BITMAPINFOHEADER& bih) {
    // Frames stay below 1 GB, so every size computed from them fits in 32 bits.
    return bih.biSize >= 40 && bih.biWidth > 0 && bih.biHeight > 0 && bih.biWidth <= 65535 &&
           bih.biHeight <= 65535 &&
           static_cast<int64_t>(bih.biWidth + 64) * bih.biHeight * 4 <= (int64_t{1} << 30) &&
           (bih.biBitCount == 24 || bih.biBitCount == 32) && bih.biCompression == BI_RGB;
}

} // namespace

void AVIFileInit() {
    LogFfmpegErrors();
    if (initCount.fetch_add(1) == 0)
        av_log_set_level(AV_LOG_ERROR);
}

void AVIFileExit() {
    int count = initCount.load();
    while (count > 0 && !initCount.compare_exchange_weak(count, count - 1)) {
    }
}

long AVIFileOpen(PAVIFILE* file, const char* name, unsigned mode) {
    return AVIFileOpen(file, name, mode, OutputFormat{});
}

long AVIFileOpen(PAVIFILE* file, const char* name, unsigned mode, const OutputFormat& kind) {
    if (!file)
        return AVIERR_BADPARAM;
    *file = nullptr;
    if (!name || !*name || !(mode & OF_CREATE) || !(mode & OF_WRITE) || Fitted(kind) != kind)
        return AVIERR_BADPARAM;
    const char* muxer = kind.container == Container::Matroska ? "matroska"
                        : kind.container == Container::Mp4    ? "mp4"
                                                              : "avi";
    AVFormatContext* format = nullptr;
    if (avformat_alloc_output_context2(&format, nullptr, muxer, nullptr) < 0 || !format)
        return AVIERR_MEMORY;
    auto mux = std::make_shared<AviMux>();
    mux->kind = kind;
    mux->format.reset(format);
    if (!mux->output.Create(name))
        return AVIERR_FILEOPEN;
    mux->path = name;
    mux->serial = ++fileSerials;
    format->pb = mux->output.Context();
    if (!format->pb)
        return AVIERR_MEMORY; // the file just created goes with the mux
    *file = new AviFile{std::move(mux)};
    return AVIERR_OK;
}

long AVIFileCreateStream(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFOA* info) {
    if (!stream)
        return AVIERR_BADPARAM;
    *stream = nullptr;
    if (file && info && info->fccType == streamtypeAUDIO) {
        if (const long refused = CreateSoundStream(*file->mux))
            return refused;
        *stream = new AviStream{file->mux, Compression{}, true};
        return AVIERR_OK;
    }
    if (!file || !info || info->fccType != streamtypeVIDEO || info->dwScale == 0 ||
        info->dwRate == 0 || info->dwScale > INT32_MAX || info->dwRate > INT32_MAX)
        return AVIERR_BADPARAM;
    AviMux& mux = *file->mux;
    if (mux.stream)
        return AVIERR_UNSUPPORTED; // one video stream per file
    AVStream* st = avformat_new_stream(mux.format.get(), nullptr);
    if (!st)
        return AVIERR_MEMORY;
    mux.stream = st;
    mux.info = *info;
    if (info->szName[0]) {
        const std::string title(info->szName, strnlen(info->szName, sizeof info->szName));
        av_dict_set(&st->metadata, "title", title.c_str(), 0);
    }
    *stream = new AviStream{file->mux, Compression{}};
    return AVIERR_OK;
}

long AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source,
                             const AVICOMPRESSOPTIONS* options) {
    if (!compressed)
        return AVIERR_BADPARAM;
    *compressed = nullptr;
    if (!source || !options || !source->mux || source->sound)
        return AVIERR_BADPARAM;
    Compression c;
    c.keyEvery = options->dwKeyFrameEvery;
    c.quality = options->dwQuality;
    c.bytesPerSecond = options->dwBytesPerSecond;
    if (!ICHeldBy(options->fccHandler, source->mux->kind.container)) {
        source->mux->broken = true; // no frame will ever go in: the file is removed
        return AVIERR_UNSUPPORTED;
    }
    if (!ICIsUncompressed(options->fccHandler)) {
        HIC hic = ICOpen(ICTYPE_VIDEO, options->fccHandler, ICMODE_COMPRESS);
        if (!hic)
            return AVIERR_NOCOMPRESSOR;
        if (options->lpParms && options->cbParms > 0 &&
            ICSendMessage(hic, ICM_SETSTATE, options->lpParms,
                          static_cast<long>(options->cbParms)) < 0) {
            ICClose(hic);
            return AVIERR_BADPARAM;
        }
        c.raw = false;
        ICGetEncoderSetup(hic, &c.setup);
        ICClose(hic);
    }
    source->mux->lastCompression = c;
    *compressed = new AviStream{source->mux, c};
    return AVIERR_OK;
}

long AVIStreamSetFormat(PAVISTREAM stream, int32_t /*position*/, const void* format,
                        int32_t formatSize) {
    if (!stream || !stream->mux || !format)
        return AVIERR_BADPARAM;
    AviMux& mux = *stream->mux;
    if (stream->sound)
        return SetSoundFormat(mux, format, formatSize);
    if (formatSize < 40)
        return AVIERR_BADPARAM;
    BITMAPINFOHEADER bih;
    std::memcpy(&bih, format, sizeof bih);
    if (!ValidFormat(bih))
        return AVIERR_BADFORMAT;
    if (mux.headerWritten) {
        // The format is fixed: the same frame size and depth every time.
        const BITMAPINFOHEADER& set = mux.frameFormat;
        return bih.biWidth == set.biWidth && bih.biHeight == set.biHeight &&
                       bih.biBitCount == set.biBitCount
                   ? AVIERR_OK
                   : AVIERR_UNSUPPORTED;
    }
    if (mux.broken || mux.failed)
        return AVIERR_FILEWRITE;
    const long ret = ConfigureSink(mux, bih, stream->compression);
    if (ret == AVIERR_OK) {
        // Compressed frames, one made and freed for every frame, are mostly smaller than a
        // whole picture: kept for reuse rather than faulted in afresh each time.
        platform::KeepBlocksSmallerThan(static_cast<unsigned long>(bih.biWidth) *
                                        static_cast<unsigned long>(std::abs(bih.biHeight)) * 3);
    }
    if (ret != AVIERR_OK && !mux.broken)
        ForgetSink(mux);
    return ret;
}

long AVIStreamGetFrameBuffer(PAVISTREAM stream, AviFrameBuffer* frame) {
    if (!frame)
        return AVIERR_BADPARAM;
    if (const long taken = TakesFrames(stream); taken != AVIERR_OK)
        return taken;
    AviMux& mux = *stream->mux;
    if (!EnsureBuffer(mux.buffer, mux.Shape()))
        return AVIERR_MEMORY;
    *frame = Describe(mux.Shape(), mux.buffer->data);
    return AVIERR_OK;
}

long AVIStreamWrite(PAVISTREAM stream, int32_t start, int32_t samples, const void* buffer,
                    int32_t bufferSize, uint32_t /*flags*/, int32_t* samplesWritten,
                    int32_t* bytesWritten) {
    if (samplesWritten)
        *samplesWritten = 0;
    if (bytesWritten)
        *bytesWritten = 0;
    if (stream && stream->mux && stream->sound)
        return WriteSound(*stream->mux, start, samples, buffer, bufferSize, samplesWritten,
                          bytesWritten);
    if (!stream || !stream->mux || !buffer || samples != 1 || start < 0)
        return AVIERR_BADPARAM;
    AviMux& mux = *stream->mux;
    if (const long refused = CanWriteAt(mux, start))
        return refused;
    const BITMAPINFOHEADER& bih = mux.frameFormat;
    if (!mux.buffer || buffer != mux.buffer->data) {
        const int32_t packed = bih.biWidth * (bih.biBitCount / 8);
        const int64_t packedSize = static_cast<int64_t>(packed) * bih.biHeight;
        const int64_t paddedSize = static_cast<int64_t>(Align(packed, 4)) * bih.biHeight;
        int32_t stride;
        if (bufferSize == paddedSize)
            stride = Align(packed, 4);
        else if (bufferSize == packedSize)
            stride = packed;
        else
            return AVIERR_BADPARAM;
        if (!EnsureBuffer(mux.buffer, mux.Shape()))
            return AVIERR_MEMORY;
        CopyDib(static_cast<const uint8_t*>(buffer), stride, bih.biBitCount / 8, mux.Shape(),
                mux.buffer->data);
    }
    int32_t written = 0;
    mux.gapFrames = start - mux.nextPosition;
    if (const long ret = Written(mux, start, WriteBuffer(mux, mux.buffer.get(), start, &written)))
        return ret;
    if (samplesWritten)
        *samplesWritten = 1;
    if (bytesWritten)
        *bytesWritten = written;
    return AVIERR_OK;
}

unsigned long AVIStreamRelease(PAVISTREAM stream) {
    delete stream;
    return 0;
}

unsigned long AVIFileRelease(PAVIFILE file) {
    if (!file)
        return 0;
    const long left = file->mux.use_count() - 1;
    delete file;
    return static_cast<unsigned long>(left > 0 ? left : 0);
}

} // namespace vexo::media
