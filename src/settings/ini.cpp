#include "settings/ini.h"

#include <cctype>
#include <cerrno>
#include <limits>

#include "platform/log.h"
#include "platform/profile.h"
#include "settings/folders.h"

namespace vexo {

EIniFileException::EIniFileException(const std::string& file)
    : std::runtime_error("In " + file + " kann nicht geschrieben werden") {}

std::string SettingsFilePath() {
    return CurrentFolders().settingsFile;
}

std::string ReadIniString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& defaultValue) {
    auto value = platform::ReadProfileString(file, section, key, 2047);
    return value ? *value : defaultValue;
}

bool TryParseIniInteger(const std::string& text, int32_t& value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return false;
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        int c = static_cast<unsigned char>(text[i]);
        int digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (base == 16 && std::isxdigit(c))
            digit = std::tolower(c) - 'a' + 10;
        else
            return false;
        magnitude = magnitude * base + digit;
        if (magnitude > int64_t{1} << 32)
            return false;
    }
    int64_t result = negative ? -magnitude : magnitude;
    if (result < std::numeric_limits<int32_t>::min() ||
        result > std::numeric_limits<int32_t>::max())
        return false;
    value = static_cast<int32_t>(result);
    return true;
}

int32_t ReadIniInteger(const std::string& file, const std::string& section, const std::string& key,
                       int32_t defaultValue) {
    auto text = platform::ReadProfileString(file, section, key, 2047);
    int32_t value;
    return text && TryParseIniInteger(*text, value) ? value : defaultValue;
}

bool ReadIniBool(const std::string& file, const std::string& section, const std::string& key,
                 bool defaultValue) {
    return ReadIniInteger(file, section, key, defaultValue ? 1 : 0) != 0;
}

namespace {
thread_local DeferSettingsWriteErrors* gDeferred = nullptr;
} // namespace

DeferSettingsWriteErrors::DeferSettingsWriteErrors() : outer_(gDeferred) {
    gDeferred = this;
}

DeferSettingsWriteErrors::~DeferSettingsWriteErrors() {
    gDeferred = outer_;
}

void DeferSettingsWriteErrors::ThrowFirst() {
    gDeferred = outer_;
    outer_ = nullptr;
    if (first_)
        throw EIniFileException(*first_);
}

void WriteIniString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value) {
    errno = 0;
    if (platform::WriteProfileString(file, section, key, value))
        return;
    // A deferred failure is logged once, with the first.
    if (!gDeferred || !gDeferred->first_)
        platform::LogFailure("settings", "cannot write " + key + " in [" + section + "] of " +
                                             file + ": " +
                                             (errno ? platform::SystemErrorText(errno)
                                                    : "a character the file cannot keep there"));
    if (!gDeferred)
        throw EIniFileException(file);
    if (!gDeferred->first_)
        gDeferred->first_ = file;
}

void WriteIniInteger(const std::string& file, const std::string& section, const std::string& key,
                     int32_t value) {
    WriteIniString(file, section, key, std::to_string(value));
}

int32_t ParseLeadingInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t magnitude = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        // Saturate instead of overflowing on absurdly long digit runs.
        if (magnitude <= std::numeric_limits<int32_t>::max())
            magnitude = magnitude * 10 + (text[i] - '0');
        ++i;
    }
    int64_t result = negative ? -magnitude : magnitude;
    if (result > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (result < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(result);
}

} // namespace vexo
