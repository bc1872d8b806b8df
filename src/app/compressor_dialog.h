// The compressor-choice dialog behind the Codec button: which compressor, its quality,
// key-frame and data-rate settings, and the compressor's own options.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "platform/vfw.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QSlider;
class QSpinBox;

namespace vexo {

class CompressorDialog : public QDialog {
public:
    // Shows the choice stored in vars; vars itself changes only in Apply.
    CompressorDialog(COMPVARS& vars, const QString& title, QWidget* parent = nullptr);
    ~CompressorDialog() override;

    // The compressors offered, in list order.
    const std::vector<CompressorInfo>& Compressors() const { return compressors_; }
    // Writes the confirmed choice into the record; the record takes the opened handle.
    void Apply();

private:
    void SelectionChanged(int index);
    void Configure();
    // The open handle of the selected compressor, opened on first need; null for
    // uncompressed output or a compressor that cannot be opened.
    HIC SelectedHandle();
    void CloseHandle();
    const CompressorInfo* Selected() const;

    COMPVARS& vars_;
    std::vector<CompressorInfo> compressors_;
    HIC hic_ = nullptr;
    FOURCC hicCode_ = 0;
    bool qualityTouched_ = false;

    QComboBox* cbCompressor_ = nullptr;
    QSlider* sldQuality_ = nullptr;
    QSpinBox* spnQuality_ = nullptr;
    QCheckBox* cbKeyFrames_ = nullptr;
    QSpinBox* spnKeyFrames_ = nullptr;
    QCheckBox* cbDataRate_ = nullptr;
    QSpinBox* spnDataRate_ = nullptr;
    QPushButton* btnConfigure_ = nullptr;
};

// True for the codes that mean uncompressed full frames.
bool IsUncompressedCode(FOURCC code);

// Runs the dialog modally. Non-zero when the user confirmed it; the record then holds the
// choice. On cancel the record keeps its values.
int ChooseCompressor(QWidget* owner, COMPVARS& vars, const std::string& title);

} // namespace vexo
