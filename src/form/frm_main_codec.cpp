// The Codec button: choose the compressor for the output files and store the choice.
#include "form/frm_main.h"
#include "media/vfw.h"
#include "settings/codec_settings.h"
#include "settings/ini.h"

namespace vexo {

using media::BITMAPINFOHEADER, media::COMPVARS, media::ICCompressorFree;

namespace {

// Status texts go to the status line, failures to an error box owned by the main window.
class FormSaveReporter : public CodecSaveReporter {
public:
    explicit FormSaveReporter(TfrmMain& form) : form_(form) {}
    void Status(const std::string& text) override { form_.ShowStatus(text); }
    void ErrorBox(const std::string& text) override {
        form_.Host().MessageBox(text, "Error", MB_OK | MB_ICONERROR);
    }

private:
    TfrmMain& form_;
};

// Releases the dialog's record however the click ends, a failed settings write included.
// The input description lives on the stack, so it is detached first.
class RecordRelease {
public:
    explicit RecordRelease(COMPVARS& vars) : vars_(vars) {}
    ~RecordRelease() {
        vars_.lpbiIn = nullptr;
        ICCompressorFree(&vars_);
    }
    RecordRelease(const RecordRelease&) = delete;
    RecordRelease& operator=(const RecordRelease&) = delete;

private:
    COMPVARS& vars_;
};

} // namespace

void TfrmMain::btnCodecClick() {
    ShowStatus("");
    const std::string file = SettingsFilePath();

    // The dialog opens with the stored compressor and its values preselected.
    COMPVARS vars;
    ResetCodecSettings(&vars, true);
    LoadCodecSettings(file, &vars);
    RecordRelease release(vars);

    // The frames handed to the compressor: uncompressed 24-bit colour, size unknown.
    BITMAPINFOHEADER input{};
    input.biSize = 40;
    input.biPlanes = 1;
    input.biBitCount = 24;
    vars.lpbiIn = &input;

    media::OutputFormat output = LoadOutputFormat(file);
    int subFrames = MotionBlurSubFrames(file);
    const int confirmed = Host().CompressorChoose(vars, output, subFrames, "Video Compression");
    vars.lpbiIn = nullptr;
    if (confirmed) {
        SaveOutputFormat(file, output);
        SaveMotionBlur(file, subFrames);
        FormSaveReporter reporter(*this);
        SaveCodecSettings(file, &vars, reporter);
    }
}

} // namespace vexo
