// The compressor-choice dialog: the container of the files, the machine's compressors that
// container holds, quality, key-frame interval, data rate, the chosen compressor's own
// options, and the sound the container takes. It fills a compressor record (and the
// container and sound) on OK and leaves them untouched on Cancel.
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
    // selects the uncompressed entry), quality, key-frame interval and data rate; the files
    // are AVI files with PCM sound.
    CompressorDialog(media::COMPVARS& vars, const QString& title, QWidget* parent = nullptr);
    // The same with the container and sound of output preselected; OK fills it too. With
    // subFrames, also motion blur (the sub-frames a frame of the video is blended from, 1 for
    // off), preselected and filled by OK.
    CompressorDialog(media::COMPVARS& vars, media::OutputFormat& output, const QString& title,
                     QWidget* parent = nullptr, int* subFrames = nullptr);
    ~CompressorDialog() override;

    // The compressors the chosen container holds, as the list shows them.
    const std::vector<media::CompressorInfo>& Compressors() const { return compressors_; }
    // The open compressor behind the current selection, opened on first need (null for
    // uncompressed output or when it cannot be opened). Owned by the dialog until OK.
    media::HIC SelectedHandle();

    // Fills the record: valid mark, type "vidc", code, quality, key frames, data rate and
    // the open compressor with its configured options; and the container and sound.
    void accept() override;

    // Shows the options of the selected compressor; changes go to its open handle.
    void ConfigureClicked();

private:
    void SelectionChanged(int index);
    // Lists the compressors and sounds of the chosen container; the compressor stays where
    // the container holds it, else H.264 is chosen where offered, else the first.
    void ContainerChanged();
    media::Container SelectedContainer() const;
    // Enables what the selected compressor honours.
    void UpdateControls();
    void CloseHandle();

    media::COMPVARS& vars_;
    media::OutputFormat aviFiles_; // for the dialog that is not told the output
    media::OutputFormat& output_;
    int* subFrames_;
    std::vector<media::CompressorInfo> compressors_;
    media::HIC handle_ = nullptr;
    bool handleOpened_ = false; // an open was tried for the current selection
    // Whether the user moved the quality; until then the stored quality is kept exactly,
    // finer than the percent steps the controls show.
    bool qualityChanged_ = false;

    QComboBox* cbContainer_;
    QComboBox* cbCompressor_;
    QComboBox* cbSound_;
    QComboBox* cbMotionBlur_ = nullptr;
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
int ChooseCompressor(QWidget* parent, media::COMPVARS& vars, media::OutputFormat& output,
                     const std::string& title, int* subFrames = nullptr);

} // namespace vexo
