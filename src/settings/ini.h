// The settings file "vexo.ini" and its accessors. Every access opens the file, performs one
// read or one write and closes it again.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace vexo {

// A settings write that failed; its message names the file.
class EIniFileException : public std::runtime_error {
public:
    explicit EIniFileException(const std::string& file);
};

// While one lives on a thread, a settings write that fails there does not end what is
// being done: the first failure is kept, and ThrowFirst throws it once everything is done.
// Start-up uses it, so that a settings file that cannot be written still gives a window with
// every value loaded and a single error box.
class DeferSettingsWriteErrors {
public:
    DeferSettingsWriteErrors();
    ~DeferSettingsWriteErrors();
    DeferSettingsWriteErrors(const DeferSettingsWriteErrors&) = delete;
    DeferSettingsWriteErrors& operator=(const DeferSettingsWriteErrors&) = delete;
    // Ends the deferral; throws EIniFileException for the first failed write, if any.
    void ThrowFirst();

private:
    friend void WriteIniString(const std::string&, const std::string&, const std::string&,
                               const std::string&);
    DeferSettingsWriteErrors* outer_;
    std::optional<std::string> first_; // the file the first failed write was for
};

// The running program's vexo.ini: beside the executable, or in the user's configuration
// folder for an installed program (settings/folders.h); recomputed each time.
std::string SettingsFilePath();

std::string ReadIniString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& defaultValue);
int32_t ReadIniInteger(const std::string& file, const std::string& section, const std::string& key,
                       int32_t defaultValue);
bool ReadIniBool(const std::string& file, const std::string& section, const std::string& key,
                 bool defaultValue);
// Both throw EIniFileException when the file cannot be written.
void WriteIniString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value);
void WriteIniInteger(const std::string& file, const std::string& section, const std::string& key,
                     int32_t value);

// The rule every numeric field text is read by: leading blanks, an optional sign, decimal
// digits up to the first other character; no digits gives 0.
int32_t ParseLeadingInteger(const std::string& text);

// The integer form of a stored value: blanks, an optional sign, then decimal digits or a
// hexadecimal number after "$", "0x" or "0X", and nothing else; within the signed 32-bit
// range. Anything else gives false.
bool TryParseIniInteger(const std::string& text, int32_t& value);

} // namespace vexo
