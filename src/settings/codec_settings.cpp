// The stored compressor choice: the record's essentials and the compressor's private state
// (base64) in section "codec" of the settings file.
#include "settings/codec_settings.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "settings/ini.h"

namespace vexo {

using media::COMPVARS, media::FOURCC, media::ICClose, media::ICMF_COMPVARS_VALID,
    media::ICMODE_COMPRESS, media::ICM_GETSTATE, media::ICM_SETSTATE, media::ICOpen,
    media::ICSendMessage, media::ICTYPE_VIDEO, media::kCompVarsSize, media::kDefaultFourCC;

namespace {

const char kSection[] = "codec";
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct MallocDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
};
using Bytes = std::unique_ptr<unsigned char[], MallocDeleter>;

// The value of a base64 character: 0..63, 64 for "=", -1 for a character to skip.
int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    if (c == '=')
        return 64;
    return -1;
}

// Decodes text into output (when given) up to capacity bytes; returns the bytes produced.
// With a null output it only counts.
long DecodeBase64(unsigned char* output, const char* text, long capacity) {
    long written = 0;
    int group[4];
    int filled = 0;
    auto put = [&](int value) {
        if (output)
            output[written] = static_cast<unsigned char>(value & 255);
        ++written;
        return written < capacity;
    };
    if (capacity <= 0)
        return 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        int value = Base64Value(*p);
        if (value < 0)
            continue;
        group[filled++] = value;
        if (filled < 4)
            continue;
        filled = 0;
        const int a = group[0], b = group[1], c = group[2], d = group[3];
        if (a == 64 || b == 64)
            break;
        if (!put(((a & 63) << 2) | ((b & 63) >> 4)))
            break;
        if (c == 64)
            break;
        if (!put(((b & 63) << 4) | ((c & 63) >> 2)))
            break;
        if (d == 64)
            break;
        if (!put(((c & 63) << 6) | (d & 63)))
            break;
    }
    return written;
}

// Closes the compressor a record holds, then puts the record back to its defaults.
void DropAndReset(COMPVARS* vars) {
    if (vars->hic)
        ICClose(vars->hic);
    ResetCodecSettings(vars, true);
}

} // namespace

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

bool LoadCodecSettings(const std::string& file, COMPVARS* vars) {
    if (!vars)
        return false;
    std::memset(vars, 0, sizeof *vars);
    vars->cbSize = kCompVarsSize;
    vars->dwFlags |= ICMF_COMPVARS_VALID;
    vars->fccType = ICTYPE_VIDEO;

    vars->fccHandler = static_cast<FOURCC>(
        ReadIniInteger(file, kSection, "fcc", static_cast<int32_t>(kDefaultFourCC)));
    vars->lKey = ReadIniInteger(file, kSection, "key", 0);
    vars->lQ = ReadIniInteger(file, kSection, "qty", 10000);
    vars->lDataRate = ReadIniInteger(file, kSection, "drt", 0);

    // No compressor of that code on this machine is accepted: the record then has no handle.
    vars->hic = ICOpen(ICTYPE_VIDEO, vars->fccHandler, ICMODE_COMPRESS);

    const int32_t size = ReadIniInteger(file, kSection, "sds", 0);
    const std::string text = ReadIniString(file, kSection, "csd", "");
    if (size <= 0 || text.empty())
        return true;

    const long capacity = (static_cast<long>(text.size()) + 3) / 4 * 3;
    if (capacity < size) {
        DropAndReset(vars);
        return false;
    }
    // A text that cannot supply every byte of the state (a cut or damaged text) is refused
    // too: the compressor would otherwise receive bytes nobody wrote.
    if (DecodeBase64(nullptr, text.c_str(), size) < size) {
        DropAndReset(vars);
        return false;
    }
    Bytes state(static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size) + 1)));
    if (!state) {
        DropAndReset(vars);
        return false;
    }
    Base64Decode(state.get(), text.c_str(), size);
    ICSendMessage(vars->hic, ICM_SETSTATE, state.get(), size);
    return true;
}

bool SaveCodecSettings(const std::string& file, COMPVARS* vars, CodecSaveReporter& reporter) {
    if (!vars || !(vars->dwFlags & ICMF_COMPVARS_VALID))
        return false;

    WriteIniInteger(file, kSection, "fcc", static_cast<int32_t>(vars->fccHandler));
    WriteIniInteger(file, kSection, "key", vars->lKey);
    WriteIniInteger(file, kSection, "qty", vars->lQ);
    WriteIniInteger(file, kSection, "drt", vars->lDataRate);

    const long size = ICSendMessage(vars->hic, ICM_GETSTATE, nullptr, 0);
    if (size <= 0) {
        WriteIniInteger(file, kSection, "sds", 0);
        WriteIniString(file, kSection, "csd", "");
    } else {
        // The state followed by room for its base64 text. A size the "sds" key cannot hold
        // is treated as memory that cannot be had.
        const unsigned long long textSize = (static_cast<unsigned long long>(size) + 2) / 3 * 4 + 1;
        Bytes buffer(size <= INT32_MAX / 2 ? static_cast<unsigned char*>(
                                                 std::malloc(static_cast<size_t>(size) + textSize))
                                           : nullptr);
        if (!buffer) {
            reporter.Status("Failed.");
            reporter.ErrorBox("Error allocating memory.");
            return false;
        }
        const long got = ICSendMessage(vars->hic, ICM_GETSTATE, buffer.get(), size);
        // A state larger than the size announced cannot have been copied whole.
        if (got < 0 || got > size) {
            buffer.reset();
            reporter.Status("Failed.");
            reporter.ErrorBox("Video codec returned bad state data.");
            return false;
        }
        char* text = reinterpret_cast<char*>(buffer.get() + size);
        Base64Encode(text, buffer.get(), static_cast<int>(got));
        WriteIniInteger(file, kSection, "sds", static_cast<int32_t>(got));
        WriteIniString(file, kSection, "csd", text);
    }
    reporter.Status("Saved compressor settings.");
    return true;
}

media::OutputFormat LoadOutputFormat(const std::string& file) {
    media::OutputFormat format;
    format.container = media::ContainerFromKey(ReadIniString(file, kSection, "container", "avi"))
                           .value_or(media::Container::Avi);
    // An unknown sound is the container's own, as a missing one is.
    format.sound = media::SoundFromKey(ReadIniString(file, kSection, "sound", ""))
                       .value_or(media::SoundsOf(format.container).front());
    return media::Fitted(format);
}

void SaveOutputFormat(const std::string& file, const media::OutputFormat& format) {
    const media::OutputFormat fitted = media::Fitted(format);
    WriteIniString(file, kSection, "container", media::ContainerKey(fitted.container));
    WriteIniString(file, kSection, "sound", media::SoundKey(fitted.sound));
}

void Base64Encode(char* output, const unsigned char* input, int count) {
    char* out = output;
    int i = 0;
    for (; count - i >= 3; i += 3) {
        const unsigned b0 = input[i], b1 = input[i + 1], b2 = input[i + 2];
        *out++ = kAlphabet[b0 >> 2];
        *out++ = kAlphabet[((b0 << 4) | (b1 >> 4)) & 63];
        *out++ = kAlphabet[((b1 << 2) | (b2 >> 6)) & 63];
        *out++ = kAlphabet[b2 & 63];
    }
    if (count - i == 1) {
        const unsigned b0 = input[i];
        *out++ = kAlphabet[b0 >> 2];
        *out++ = kAlphabet[(b0 << 4) & 63];
        *out++ = '=';
        *out++ = '=';
    } else if (count - i == 2) {
        const unsigned b0 = input[i], b1 = input[i + 1];
        *out++ = kAlphabet[b0 >> 2];
        *out++ = kAlphabet[((b0 << 4) | (b1 >> 4)) & 63];
        *out++ = kAlphabet[(b1 << 2) & 63];
        *out++ = '=';
    }
    *out = '\0';
}

void Base64Decode(unsigned char* output, const char* text, int capacity) {
    if (!output || !text)
        return;
    DecodeBase64(output, text, capacity);
}

bool IsMotionBlurChoice(int subFrames) {
    return subFrames == 1 || subFrames == 2 || subFrames == 4 || subFrames == 8 ||
           subFrames == 16 || subFrames == 32;
}

int MotionBlurSubFrames(const std::string& file) {
    const int32_t k = ReadIniInteger(file, "settings", "motionblur", 1);
    return IsMotionBlurChoice(k) ? k : 1;
}

void SaveMotionBlur(const std::string& file, int subFrames) {
    WriteIniInteger(file, "settings", "motionblur", IsMotionBlurChoice(subFrames) ? subFrames : 1);
}

} // namespace vexo
