// The stored compressor choice: section "codec" of the settings file.
#pragma once

#include <string>

#include "media/output_format.h"
#include "media/vfw.h"

namespace vexo {

// Null record: nothing. With clear, all bytes are zeroed first; then a record not marked
// valid is marked valid with quality 10000; finally cbSize = 64.
void ResetCodecSettings(media::COMPVARS* vars, bool clear);
// Fills the record from the settings file. False when a stored state cannot be taken back.
bool LoadCodecSettings(const std::string& file, media::COMPVARS* vars);
// Stores a record the user has just chosen; true when everything was written.
// Failures are shown through the reporter given (status text and error box).
struct CodecSaveReporter {
    virtual ~CodecSaveReporter() = default;
    virtual void Status(const std::string& text) = 0;
    virtual void ErrorBox(const std::string& text) = 0;
};
bool SaveCodecSettings(const std::string& file, media::COMPVARS* vars, CodecSaveReporter& reporter);

// Motion blur, kept with the compressor choice as key "motionblur" of section "settings":
// the sub-frames a frame of the video is blended from, 1 (off, also for a missing or
// unusable value), 2, 4, 8, 16 or 32.
int MotionBlurSubFrames(const std::string& file);
void SaveMotionBlur(const std::string& file, int subFrames);
// Whether a number of sub-frames is one of the choices (1 for off).
bool IsMotionBlurChoice(int subFrames);
// The kind of file the videos are written as: keys "container" ("avi", "mkv", "mp4") and
// "sound" ("pcm", "aac", "opus") of section "codec". Missing or unknown values give AVI; a
// sound the container does not take gives the container's own (Fitted).
media::OutputFormat LoadOutputFormat(const std::string& file);
void SaveOutputFormat(const std::string& file, const media::OutputFormat& format);

// Standard base64 with "=" padding, no line breaks. Writes ((count + 2) / 3) * 4 characters
// and a NUL; count 0 or less gives the empty text.
void Base64Encode(char* output, const unsigned char* input, int count);
// Decodes at most capacity bytes; characters outside the alphabet and "=" are skipped.
void Base64Decode(unsigned char* output, const char* text, int capacity);

} // namespace vexo
