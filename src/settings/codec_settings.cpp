// The stored compressor choice (section "codec" of the settings file) and the base64 text
// that carries the compressor's private state.
#include "settings/codec_settings.h"

#include <cstring>
#include <memory>
#include <new>

#include "settings/ini.h"

namespace vexo {

namespace {

const char kSection[] = "codec";
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int32_t kDefaultQuality = 10000;

// The settings reader returns at most this many characters of a value, so a longer "csd"
// text could never be read back.
constexpr size_t kLongestStoredText = 2047;

// The value of a base64 character: 0..63, 64 for "=", -1 for anything to skip.
int CharValue(unsigned char c) {
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

// Decodes like Base64Decode and returns how many bytes were written.
int DecodeCounting(unsigned char* output, const char* text, int capacity) {
    int written = 0;
    if (!output || !text || capacity <= 0)
        return 0;
    int group[4];
    int filled = 0;
    for (const char* p = text; *p; ++p) {
        const int value = CharValue(static_cast<unsigned char>(*p));
        if (value < 0)
            continue;
        group[filled++] = value;
        if (filled < 4)
            continue;
        filled = 0;
        const int a = group[0], b = group[1], c = group[2], d = group[3];
        if (a == 64 || b == 64)
            return written;
        output[written++] = static_cast<unsigned char>(((a & 63) << 2) | ((b & 63) >> 4));
        if (written == capacity || c == 64)
            return written;
        output[written++] = static_cast<unsigned char>((((b & 63) << 4) | ((c & 63) >> 2)) & 255);
        if (written == capacity || d == 64)
            return written;
        output[written++] = static_cast<unsigned char>((((c & 63) << 6) | (d & 63)) & 255);
        if (written == capacity)
            return written;
    }
    return written;
}

// Drops the compressor the load opened, then leaves the record at its defaults.
bool RefuseState(COMPVARS* vars) {
    if (vars->hic)
        ICClose(vars->hic);
    ResetCodecSettings(vars, true);
    return false;
}

} // namespace

void ResetCodecSettings(COMPVARS* vars, bool clear) {
    if (!vars)
        return;
    if (clear)
        std::memset(vars, 0, sizeof *vars);
    if (!(vars->dwFlags & ICMF_COMPVARS_VALID)) {
        vars->dwFlags |= ICMF_COMPVARS_VALID;
        vars->lQ = kDefaultQuality;
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
    vars->lQ = ReadIniInteger(file, kSection, "qty", kDefaultQuality);
    vars->lDataRate = ReadIniInteger(file, kSection, "drt", 0);

    // An uninstalled compressor is no error here; the record just has no handle.
    vars->hic = ICOpen(ICTYPE_VIDEO, vars->fccHandler, ICMODE_COMPRESS);

    const int32_t size = ReadIniInteger(file, kSection, "sds", 0);
    const std::string text = ReadIniString(file, kSection, "csd", "");
    if (size <= 0 || text.empty())
        return true;

    const int64_t capacity = (static_cast<int64_t>(text.size()) + 3) / 4 * 3;
    if (capacity < size)
        return RefuseState(vars);

    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size + 1]);
    if (!buffer)
        return RefuseState(vars);
    // A text that decodes to fewer bytes than stored (cut off or damaged) would hand the
    // compressor bytes that were never stored; such a state is refused as a whole.
    if (DecodeCounting(buffer.get(), text.c_str(), size) < size)
        return RefuseState(vars);

    ICSendMessage(vars->hic, ICM_SETSTATE, buffer.get(), size);
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
        const long textLength = (size + 2) / 3 * 4;
        // A text the settings reader cannot return whole would make every later load fail;
        // better to say so now than to report success.
        if (static_cast<size_t>(textLength) > kLongestStoredText) {
            reporter.Status("Failed.");
            reporter.ErrorBox("The video codec's settings are too large to be stored.");
            return false;
        }
        std::unique_ptr<unsigned char[]> buffer;
        if (size <= 0x7FFFFFFF / 2)
            buffer.reset(new (std::nothrow) unsigned char[size + textLength + 1]);
        if (!buffer) {
            reporter.Status("Failed.");
            reporter.ErrorBox("Error allocating memory.");
            return false;
        }
        if (ICSendMessage(vars->hic, ICM_GETSTATE, buffer.get(), size) < 0) {
            reporter.Status("Failed.");
            reporter.ErrorBox("Video codec returned bad state data.");
            return false;
        }
        char* text = reinterpret_cast<char*>(buffer.get() + size);
        Base64Encode(text, buffer.get(), static_cast<int>(size));
        WriteIniInteger(file, kSection, "sds", static_cast<int32_t>(size));
        WriteIniString(file, kSection, "csd", text);
    }
    reporter.Status("Saved compressor settings.");
    return true;
}

void Base64Encode(char* output, const unsigned char* input, int count) {
    if (!output)
        return;
    char* out = output;
    for (int i = 0; i < count; i += 3) {
        const unsigned b0 = input[i];
        *out++ = kAlphabet[b0 >> 2];
        if (count - i == 1) {
            *out++ = kAlphabet[(b0 << 4) & 63];
            *out++ = '=';
            *out++ = '=';
            break;
        }
        const unsigned b1 = input[i + 1];
        *out++ = kAlphabet[((b0 << 4) | (b1 >> 4)) & 63];
        if (count - i == 2) {
            *out++ = kAlphabet[(b1 << 2) & 63];
            *out++ = '=';
            break;
        }
        const unsigned b2 = input[i + 2];
        *out++ = kAlphabet[((b1 << 2) | (b2 >> 6)) & 63];
        *out++ = kAlphabet[b2 & 63];
    }
    *out = '\0';
}

void Base64Decode(unsigned char* output, const char* text, int capacity) {
    DecodeCounting(output, text, capacity);
}

} // namespace vexo
