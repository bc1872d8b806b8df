// The compressor-choice dialog: a list of the machine's compressors and the settings each
// one honours. The record it edits changes only when the user confirms.
#include "app/compressor_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace vexo {

namespace {

constexpr int kQualityScale = 100; // slider step = 100 units of lQ
constexpr int kMaxQuality = 10000;
constexpr int kDefaultKeyFrames = 15;
constexpr int kDefaultDataRate = 300;

} // namespace

bool IsUncompressedCode(FOURCC code) {
    return code == kDefaultFourCC || code == FOURCC_DIB || code == 0;
}

CompressorDialog::CompressorDialog(COMPVARS& vars, const QString& title, QWidget* parent)
    : QDialog(parent), vars_(vars), compressors_(ICEnumerateCompressors()) {
    setObjectName("dlgCompressor");
    setWindowTitle(title);
    setModal(true);

    auto* grid = new QGridLayout;
    auto* labCompressor = new QLabel("&Compressor:", this);
    labCompressor->setObjectName("labCompressor");
    cbCompressor_ = new QComboBox(this);
    cbCompressor_->setObjectName("cbCompressor");
    labCompressor->setBuddy(cbCompressor_);
    for (const CompressorInfo& info : compressors_)
        cbCompressor_->addItem(QString::fromStdString(info.name));
    btnConfigure_ = new QPushButton("Con&figure...", this);
    btnConfigure_->setObjectName("btnConfigure");
    btnConfigure_->setAutoDefault(false);
    grid->addWidget(labCompressor, 0, 0);
    grid->addWidget(cbCompressor_, 0, 1, 1, 2);
    grid->addWidget(btnConfigure_, 0, 3);

    auto* labQuality = new QLabel("Compression &Quality:", this);
    labQuality->setObjectName("labQuality");
    sldQuality_ = new QSlider(Qt::Horizontal, this);
    sldQuality_->setObjectName("sldQuality");
    sldQuality_->setRange(0, kMaxQuality / kQualityScale);
    spnQuality_ = new QSpinBox(this);
    spnQuality_->setObjectName("spnQuality");
    spnQuality_->setRange(0, kMaxQuality / kQualityScale);
    labQuality->setBuddy(sldQuality_);
    grid->addWidget(labQuality, 1, 0);
    grid->addWidget(sldQuality_, 1, 1, 1, 2);
    grid->addWidget(spnQuality_, 1, 3);

    cbKeyFrames_ = new QCheckBox("&Key frame every", this);
    cbKeyFrames_->setObjectName("cbKeyFrames");
    spnKeyFrames_ = new QSpinBox(this);
    spnKeyFrames_->setObjectName("spnKeyFrames");
    spnKeyFrames_->setRange(1, 99999);
    spnKeyFrames_->setSuffix(" frames");
    grid->addWidget(cbKeyFrames_, 2, 0);
    grid->addWidget(spnKeyFrames_, 2, 1);

    cbDataRate_ = new QCheckBox("&Data rate", this);
    cbDataRate_->setObjectName("cbDataRate");
    spnDataRate_ = new QSpinBox(this);
    spnDataRate_->setObjectName("spnDataRate");
    spnDataRate_->setRange(1, 1000000);
    spnDataRate_->setSuffix(" KB/s");
    grid->addWidget(cbDataRate_, 3, 0);
    grid->addWidget(spnDataRate_, 3, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("buttons");
    buttons->button(QDialogButtonBox::Ok)->setObjectName("btnOk");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("btnCancel");

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);

    // The stored values; every code for uncompressed output selects the uncompressed entry.
    int selected = 0;
    for (size_t i = 0; i < compressors_.size(); ++i) {
        const FOURCC code = compressors_[i].fourcc;
        if (code == vars.fccHandler ||
            (IsUncompressedCode(code) && IsUncompressedCode(vars.fccHandler))) {
            selected = static_cast<int>(i);
            break;
        }
    }
    const int quality = std::clamp(vars.lQ, 0, kMaxQuality);
    sldQuality_->setValue((quality + kQualityScale / 2) / kQualityScale);
    spnQuality_->setValue(sldQuality_->value());
    cbKeyFrames_->setChecked(vars.lKey > 0);
    spnKeyFrames_->setValue(vars.lKey > 0 ? vars.lKey : kDefaultKeyFrames);
    cbDataRate_->setChecked(vars.lDataRate > 0);
    spnDataRate_->setValue(vars.lDataRate > 0 ? vars.lDataRate : kDefaultDataRate);

    connect(sldQuality_, &QSlider::valueChanged, this, [this](int value) {
        qualityTouched_ = true;
        spnQuality_->setValue(value);
    });
    connect(spnQuality_, &QSpinBox::valueChanged, this, [this](int value) {
        qualityTouched_ = true;
        sldQuality_->setValue(value);
    });
    connect(cbKeyFrames_, &QCheckBox::toggled, this,
            [this] { SelectionChanged(cbCompressor_->currentIndex()); });
    connect(cbDataRate_, &QCheckBox::toggled, this,
            [this] { SelectionChanged(cbCompressor_->currentIndex()); });
    connect(cbCompressor_, &QComboBox::currentIndexChanged, this,
            [this](int index) { SelectionChanged(index); });
    connect(btnConfigure_, &QPushButton::clicked, this, [this] { Configure(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        const CompressorInfo* info = Selected();
        if (info && !IsUncompressedCode(info->fourcc) && !SelectedHandle()) {
            QMessageBox::critical(this, "Error",
                                  QString("The compressor \"%1\" cannot be opened.")
                                      .arg(QString::fromStdString(info->name)));
            return;
        }
        accept();
    });

    cbCompressor_->setCurrentIndex(selected);
    SelectionChanged(selected);
}

CompressorDialog::~CompressorDialog() {
    CloseHandle();
}

const CompressorInfo* CompressorDialog::Selected() const {
    const int index = cbCompressor_->currentIndex();
    if (index < 0 || index >= static_cast<int>(compressors_.size()))
        return nullptr;
    return &compressors_[index];
}

void CompressorDialog::SelectionChanged(int) {
    const CompressorInfo* info = Selected();
    const bool quality = info && info->hasQuality;
    const bool keyFrames = info && info->hasKeyFrames;
    const bool dataRate = info && info->hasDataRate;
    findChild<QLabel*>("labQuality")->setEnabled(quality);
    sldQuality_->setEnabled(quality);
    spnQuality_->setEnabled(quality);
    cbKeyFrames_->setEnabled(keyFrames);
    spnKeyFrames_->setEnabled(keyFrames && cbKeyFrames_->isChecked());
    cbDataRate_->setEnabled(dataRate);
    spnDataRate_->setEnabled(dataRate && cbDataRate_->isChecked());
    btnConfigure_->setEnabled(info && info->hasOptions);
}

HIC CompressorDialog::SelectedHandle() {
    const CompressorInfo* info = Selected();
    if (!info || IsUncompressedCode(info->fourcc))
        return nullptr;
    if (hic_ && hicCode_ == info->fourcc)
        return hic_;
    CloseHandle();
    hic_ = ICOpen(ICTYPE_VIDEO, info->fourcc, ICMODE_COMPRESS);
    hicCode_ = info->fourcc;
    // The stored compressor starts from its stored options, which the record's handle holds.
    if (hic_ && vars_.hic && vars_.fccHandler == info->fourcc) {
        const long size = ICSendMessage(vars_.hic, ICM_GETSTATE, nullptr, 0);
        if (size > 0) {
            std::vector<unsigned char> state(static_cast<size_t>(size));
            if (ICSendMessage(vars_.hic, ICM_GETSTATE, state.data(), size) >= 0)
                ICSendMessage(hic_, ICM_SETSTATE, state.data(), size);
        }
    }
    return hic_;
}

void CompressorDialog::CloseHandle() {
    if (hic_)
        ICClose(hic_);
    hic_ = nullptr;
    hicCode_ = 0;
}

void CompressorDialog::Configure() {
    const CompressorInfo* info = Selected();
    HIC hic = SelectedHandle();
    if (!info || !hic) {
        QMessageBox::critical(this, "Error", "The selected compressor cannot be opened.");
        return;
    }
    const std::vector<CompressorOption> options = ICGetOptions(hic);

    QDialog dialog(this);
    dialog.setObjectName("dlgConfigure");
    dialog.setWindowTitle(QString::fromStdString(info->name) + " Settings");
    auto* form = new QFormLayout;
    std::vector<QComboBox*> boxes;
    for (const CompressorOption& option : options) {
        auto* box = new QComboBox(&dialog);
        box->setObjectName(QString::fromStdString("opt_" + option.key));
        for (const std::string& choice : option.choices)
            box->addItem(QString::fromStdString(choice));
        box->setCurrentIndex(option.value);
        form->addRow(QString::fromStdString(option.label) + ":", box);
        boxes.push_back(box);
    }
    if (options.empty())
        form->addRow(new QLabel("This compressor has no options.", &dialog));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("btnConfigureOk");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("btnConfigureCancel");
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return;

    QStringList refused;
    for (size_t i = 0; i < options.size(); ++i) {
        const int value = boxes[i]->currentIndex();
        if (value != options[i].value && !ICSetOption(hic, options[i].key, value))
            refused << QString::fromStdString(options[i].label);
    }
    if (!refused.isEmpty())
        QMessageBox::critical(this, "Error",
                              "The compressor did not take these options: " + refused.join(", ") +
                                  ".");
}

void CompressorDialog::Apply() {
    const CompressorInfo* info = Selected();
    HIC hic = SelectedHandle();
    if (vars_.hic && vars_.hic != hic)
        ICClose(vars_.hic);
    vars_.hic = hic;
    hic_ = nullptr; // the record owns it now
    hicCode_ = 0;

    vars_.cbSize = kCompVarsSize;
    vars_.dwFlags |= ICMF_COMPVARS_VALID;
    vars_.fccType = ICTYPE_VIDEO;
    vars_.fccHandler = info ? info->fourcc : kDefaultFourCC;
    if (qualityTouched_)
        vars_.lQ = sldQuality_->value() * kQualityScale;
    else
        vars_.lQ = std::clamp(vars_.lQ, 0, kMaxQuality);
    vars_.lKey = cbKeyFrames_->isChecked() ? spnKeyFrames_->value() : 0;
    vars_.lDataRate = cbDataRate_->isChecked() ? spnDataRate_->value() : 0;
}

int ChooseCompressor(QWidget* owner, COMPVARS& vars, const std::string& title) {
    CompressorDialog dialog(vars, QString::fromStdString(title), owner);
    if (dialog.exec() != QDialog::Accepted)
        return 0;
    dialog.Apply();
    return 1;
}

} // namespace vexo
