// The compressor-choice dialog: the machine's compressors, quality, key-frame interval, data
// rate and the chosen compressor's own options. It fills a compressor record on OK and
// leaves it untouched on Cancel.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "media/vfw.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QPushButton;
class QSlider;
class QSpinBox;

namespace vexo {

class CompressorDialog : public QDialog {
public:
    // Preselects what vars holds: its compressor code (every code for uncompressed output
    // selects the uncompressed entry), quality, key-frame interval and data rate.
    CompressorDialog(media::COMPVARS& vars, const QString& title, QWidget* parent = nullptr);
    ~CompressorDialog() override;

    const std::vector<media::CompressorInfo>& Compressors() const { return compressors_; }
    // The open compressor behind the current selection, opened on first need (null for
    // uncompressed output or when it cannot be opened). Owned by the dialog until OK.
    media::HIC SelectedHandle();

    // Fills the record: valid mark, type "vidc", code, quality, key frames, data rate and
    // the open compressor with its configured options.
    void accept() override;

    // Shows the options of the selected compressor; changes go to its open handle.
    void ConfigureClicked();

private:
    void SelectionChanged(int index);
    // Enables what the selected compressor honours.
    void UpdateControls();
    void CloseHandle();

    media::COMPVARS& vars_;
    std::vector<media::CompressorInfo> compressors_;
    media::HIC handle_ = nullptr;
    bool handleOpened_ = false; // an open was tried for the current selection
    // Whether the user moved the quality; until then the stored quality is kept exactly,
    // finer than the percent steps the controls show.
    bool qualityChanged_ = false;

    QComboBox* cbCompressor_;
    QSlider* sliderQuality_;
    QSpinBox* spinQuality_;
    QCheckBox* cbKeyFrames_;
    QSpinBox* spinKeyFrames_;
    QCheckBox* cbDataRate_;
    QSpinBox* spinDataRate_;
    QPushButton* btnConfigure_;
    QDialogButtonBox* buttons_;
};

// A compressor's own options, one choice list each; OK hands the changed values to hic.
class CompressorOptionsDialog : public QDialog {
public:
    CompressorOptionsDialog(media::HIC hic, const QString& title, QWidget* parent = nullptr);
    void accept() override;

private:
    media::HIC hic_;
    std::vector<media::CompressorOption> options_;
    std::vector<QComboBox*> boxes_;
};

// True for the codes that stand for uncompressed full frames: 0, "DIB " and the stored
// default 1145651744.
bool IsUncompressedCode(media::FOURCC code);

// Shows the dialog modally; non-zero when the user confirmed it.
int ChooseCompressor(QWidget* parent, media::COMPVARS& vars, const std::string& title);

} // namespace vexo
