// The Codec button: lets the user choose the video compressor and stores the choice.
#include "form/frm_main.h"

#include "platform/vfw.h"
#include "settings/codec_settings.h"
#include "settings/ini.h"

namespace vexo {

namespace {

// Status and error box of a save, shown through the main window.
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

// Frees the record when the handler ends, also when a settings write fails.
struct CompVarsFree {
    COMPVARS* vars;
    ~CompVarsFree() { ICCompressorFree(vars); }
};

} // namespace

void TfrmMain::btnCodecClick() {
    ShowStatus("");
    const std::string file = SettingsFilePath();

    COMPVARS vars;
    ResetCodecSettings(&vars, true);
    LoadCodecSettings(file, &vars); // the dialog opens with the stored choice
    CompVarsFree release{&vars};

    // Uncompressed 24-bit colour of unknown size; only seen by the dialog.
    BITMAPINFOHEADER input;
    input.biSize = 40;
    input.biPlanes = 1;
    input.biBitCount = 24;
    vars.lpbiIn = &input;
    const int confirmed = Host().CompressorChoose(vars, "Video Compression");
    vars.lpbiIn = nullptr;

    if (confirmed) {
        FormSaveReporter reporter(*this);
        SaveCodecSettings(file, &vars, reporter);
    }
}

} // namespace vexo
