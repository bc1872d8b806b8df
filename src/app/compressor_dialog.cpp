#include "app/compressor_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>

namespace vexo {

using media::COMPVARS, media::CompressorInfo, media::CompressorOption, media::FOURCC,
    media::FOURCC_DIB, media::HIC, media::ICClose, media::ICEnumerateCompressors,
    media::ICGetOptions, media::ICMF_COMPVARS_VALID, media::ICMODE_COMPRESS, media::ICM_GETSTATE,
    media::ICM_SETSTATE, media::ICOpen, media::ICSendMessage, media::ICSetOption,
    media::ICTYPE_VIDEO, media::kCompVarsSize, media::kDefaultFourCC;

namespace {

constexpr int kDefaultKeyInterval = 15;
constexpr int kDefaultDataRate = 1000;

// The code with its letters in lower case, so that "HFYU" finds "hfyu".
FOURCC LowerCode(FOURCC code) {
    FOURCC result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const auto c = static_cast<unsigned char>((code >> shift) & 0xFF);
        result |= static_cast<FOURCC>(std::tolower(c)) << shift;
    }
    return result;
}

// The list entry a stored code selects: the uncompressed entry for every uncompressed
// code, else the compressor of that code; the first entry when nothing matches.
int EntryFor(const std::vector<CompressorInfo>& list, FOURCC code) {
    auto find = [&](auto match) {
        auto it = std::find_if(list.begin(), list.end(), match);
        return it == list.end() ? -1 : static_cast<int>(it - list.begin());
    };
    int index = IsUncompressedCode(code)
                    ? find([](const CompressorInfo& c) { return IsUncompressedCode(c.fourcc); })
                    : find([&](const CompressorInfo& c) { return c.fourcc == code; });
    if (index < 0 && !IsUncompressedCode(code))
        index =
            find([&](const CompressorInfo& c) { return LowerCode(c.fourcc) == LowerCode(code); });
    return index < 0 ? 0 : index;
}

// Hands the private state of one open compressor to another of the same kind.
void CopyState(HIC from, HIC to) {
    const long size = ICSendMessage(from, ICM_GETSTATE, nullptr, 0);
    if (size <= 0)
        return;
    std::vector<unsigned char> state(static_cast<size_t>(size));
    const long got = ICSendMessage(from, ICM_GETSTATE, state.data(), size);
    if (got > 0 && got <= size)
        ICSendMessage(to, ICM_SETSTATE, state.data(), got);
}

} // namespace

bool IsUncompressedCode(FOURCC code) {
    return code == 0 || code == FOURCC_DIB || code == kDefaultFourCC;
}

CompressorDialog::CompressorDialog(COMPVARS& vars, const QString& title, QWidget* parent)
    : CompressorDialog(vars, aviFiles_, title, parent) {}

CompressorDialog::CompressorDialog(COMPVARS& vars, media::OutputFormat& output,
                                   const QString& title, QWidget* parent, int* subFrames)
    : QDialog(parent), vars_(vars), output_(output), subFrames_(subFrames),
      compressors_(ICEnumerateCompressors(output.container)) {
    setObjectName("CompressorDialog");
    setWindowTitle(title);
    setModal(true);
    // The numbers of the dialog are shown and read the same whatever the user's language
    // (no native digits, no group or decimal separators of the locale).
    setLocale(QLocale::c());

    auto* labContainer = new QLabel("Con&tainer:", this);
    labContainer->setObjectName("labContainer");
    cbContainer_ = new QComboBox(this);
    cbContainer_->setObjectName("cbContainer");
    for (media::Container container : media::Containers())
        cbContainer_->addItem(QString::fromStdString(media::ContainerName(container) + " (" +
                                                     media::ContainerExtension(container) + ")"),
                              static_cast<int>(container));
    cbContainer_->setCurrentIndex(cbContainer_->findData(static_cast<int>(output_.container)));
    labContainer->setBuddy(cbContainer_);

    auto* labCompressor = new QLabel("&Compressor:", this);
    labCompressor->setObjectName("labCompressor");
    cbCompressor_ = new QComboBox(this);
    cbCompressor_->setObjectName("cbCompressor");
    for (const CompressorInfo& info : compressors_)
        cbCompressor_->addItem(QString::fromStdString(info.name));
    labCompressor->setBuddy(cbCompressor_);

    btnConfigure_ = new QPushButton("Con&figure...", this);
    btnConfigure_->setObjectName("btnConfigure");

    auto* labQuality = new QLabel("Compression &quality:", this);
    labQuality->setObjectName("labQuality");
    sliderQuality_ = new QSlider(Qt::Horizontal, this);
    sliderQuality_->setObjectName("sliderQuality");
    sliderQuality_->setRange(0, 100);
    spinQuality_ = new QSpinBox(this);
    spinQuality_->setObjectName("spinQuality");
    spinQuality_->setRange(0, 100);
    labQuality->setBuddy(sliderQuality_);
    connect(sliderQuality_, &QSlider::valueChanged, spinQuality_, &QSpinBox::setValue);
    connect(spinQuality_, &QSpinBox::valueChanged, sliderQuality_, &QSlider::setValue);

    cbKeyFrames_ = new QCheckBox("&Key frame every", this);
    cbKeyFrames_->setObjectName("cbKeyFrames");
    spinKeyFrames_ = new QSpinBox(this);
    spinKeyFrames_->setObjectName("spinKeyFrames");
    spinKeyFrames_->setRange(1, 100000);
    auto* labFrames = new QLabel("frames", this);
    labFrames->setObjectName("labKeyFramesUnit");

    cbDataRate_ = new QCheckBox("&Data rate", this);
    cbDataRate_->setObjectName("cbDataRate");
    spinDataRate_ = new QSpinBox(this);
    spinDataRate_->setObjectName("spinDataRate");
    spinDataRate_->setRange(1, 10000000);
    auto* labRate = new QLabel("KB/s", this);
    labRate->setObjectName("labDataRateUnit");

    auto* labSound = new QLabel("&Sound:", this);
    labSound->setObjectName("labSound");
    cbSound_ = new QComboBox(this);
    cbSound_->setObjectName("cbSound");
    for (media::SoundCodec sound : media::SoundsOf(output_.container))
        cbSound_->addItem(QString::fromStdString(media::SoundName(sound)), static_cast<int>(sound));
    cbSound_->setCurrentIndex(
        std::max(0, cbSound_->findData(static_cast<int>(media::Fitted(output_).sound))));
    labSound->setBuddy(cbSound_);

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->setObjectName("buttons");
    buttons_->button(QDialogButtonBox::Ok)->setObjectName("btnOK");
    buttons_->button(QDialogButtonBox::Cancel)->setObjectName("btnCancel");
    connect(buttons_, &QDialogButtonBox::accepted, this, &CompressorDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &CompressorDialog::reject);

    auto* grid = new QGridLayout;
    grid->addWidget(labContainer, 0, 0);
    grid->addWidget(cbContainer_, 0, 1, 1, 2);
    grid->addWidget(labCompressor, 1, 0);
    grid->addWidget(cbCompressor_, 1, 1, 1, 2);
    grid->addWidget(btnConfigure_, 1, 3);
    grid->addWidget(labQuality, 2, 0);
    grid->addWidget(sliderQuality_, 2, 1, 1, 2);
    grid->addWidget(spinQuality_, 2, 3);
    grid->addWidget(cbKeyFrames_, 3, 0);
    grid->addWidget(spinKeyFrames_, 3, 1);
    grid->addWidget(labFrames, 3, 2);
    grid->addWidget(cbDataRate_, 4, 0);
    grid->addWidget(spinDataRate_, 4, 1);
    grid->addWidget(labRate, 4, 2);
    grid->addWidget(labSound, 5, 0);
    grid->addWidget(cbSound_, 5, 1, 1, 2);
    if (subFrames_) {
        auto* labBlur = new QLabel("&Motion blur:", this);
        labBlur->setObjectName("labMotionBlur");
        cbMotionBlur_ = new QComboBox(this);
        cbMotionBlur_->setObjectName("cbMotionBlur");
        cbMotionBlur_->setToolTip("The game captures this many sub-frames for every frame of "
                                  "the video, and each frame is their average.");
        cbMotionBlur_->addItem("Off", 1);
        for (int k : {2, 4, 8, 16, 32})
            cbMotionBlur_->addItem(QString::number(k) + " sub-frames", k);
        cbMotionBlur_->setCurrentIndex(std::max(0, cbMotionBlur_->findData(*subFrames_)));
        labBlur->setBuddy(cbMotionBlur_);
        grid->addWidget(labBlur, 6, 0);
        grid->addWidget(cbMotionBlur_, 6, 1, 1, 2);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons_);

    // The stored values.
    spinQuality_->setValue(std::clamp(vars_.lQ, 0, 10000) / 100);
    cbKeyFrames_->setChecked(vars_.lKey > 0);
    spinKeyFrames_->setValue(vars_.lKey > 0 ? vars_.lKey : kDefaultKeyInterval);
    cbDataRate_->setChecked(vars_.lDataRate > 0);
    spinDataRate_->setValue(vars_.lDataRate > 0 ? vars_.lDataRate : kDefaultDataRate);

    connect(spinQuality_, &QSpinBox::valueChanged, this, [this] { qualityChanged_ = true; });
    connect(cbKeyFrames_, &QCheckBox::toggled, this, &CompressorDialog::UpdateControls);
    connect(cbDataRate_, &QCheckBox::toggled, this, &CompressorDialog::UpdateControls);
    connect(btnConfigure_, &QPushButton::clicked, this, &CompressorDialog::ConfigureClicked);

    if (!compressors_.empty())
        cbCompressor_->setCurrentIndex(EntryFor(compressors_, vars_.fccHandler));
    connect(cbCompressor_, &QComboBox::currentIndexChanged, this,
            &CompressorDialog::SelectionChanged);
    connect(cbContainer_, &QComboBox::currentIndexChanged, this,
            &CompressorDialog::ContainerChanged);
    UpdateControls();
}

media::Container CompressorDialog::SelectedContainer() const {
    return static_cast<media::Container>(cbContainer_->currentData().toInt());
}

void CompressorDialog::ContainerChanged() {
    const media::Container container = SelectedContainer();
    const int index = cbCompressor_->currentIndex();
    const FOURCC before = index >= 0 && index < static_cast<int>(compressors_.size())
                              ? compressors_[static_cast<size_t>(index)].fourcc
                              : 0;
    compressors_ = ICEnumerateCompressors(container);
    int selected = -1;
    for (size_t i = 0; i < compressors_.size() && selected < 0; ++i)
        if (compressors_[i].fourcc == before)
            selected = static_cast<int>(i);
    for (size_t i = 0; i < compressors_.size() && selected < 0; ++i)
        if (compressors_[i].fourcc == media::MakeFourCC('H', '2', '6', '4'))
            selected = static_cast<int>(i);
    {
        const QSignalBlocker quiet(cbCompressor_);
        cbCompressor_->clear();
        for (const CompressorInfo& info : compressors_)
            cbCompressor_->addItem(QString::fromStdString(info.name));
        cbCompressor_->setCurrentIndex(compressors_.empty() ? -1 : std::max(selected, 0));
    }
    if (cbCompressor_->currentIndex() != index || selected < 0 ||
        compressors_[static_cast<size_t>(selected)].fourcc != before)
        SelectionChanged(cbCompressor_->currentIndex());

    const int sound = cbSound_->currentData().toInt();
    const QSignalBlocker quiet(cbSound_);
    cbSound_->clear();
    for (media::SoundCodec codec : media::SoundsOf(container))
        cbSound_->addItem(QString::fromStdString(media::SoundName(codec)), static_cast<int>(codec));
    cbSound_->setCurrentIndex(std::max(0, cbSound_->findData(sound)));
}

CompressorDialog::~CompressorDialog() {
    CloseHandle();
}

void CompressorDialog::CloseHandle() {
    if (handle_)
        ICClose(handle_);
    handle_ = nullptr;
    handleOpened_ = false;
}

void CompressorDialog::SelectionChanged(int index) {
    // Options set on the previous compressor's handle do not carry over.
    CloseHandle();
    // A compressor chosen afresh starts at the quality it makes good videos at.
    if (index >= 0 && index < static_cast<int>(compressors_.size()) &&
        compressors_[static_cast<size_t>(index)].defaultQuality >= 0)
        spinQuality_->setValue(compressors_[static_cast<size_t>(index)].defaultQuality / 100);
    UpdateControls();
}

void CompressorDialog::UpdateControls() {
    const int index = cbCompressor_->currentIndex();
    const bool valid = index >= 0 && index < static_cast<int>(compressors_.size());
    static const CompressorInfo none{};
    const CompressorInfo& info = valid ? compressors_[static_cast<size_t>(index)] : none;
    sliderQuality_->setEnabled(info.hasQuality);
    spinQuality_->setEnabled(info.hasQuality);
    cbKeyFrames_->setEnabled(info.hasKeyFrames);
    spinKeyFrames_->setEnabled(info.hasKeyFrames && cbKeyFrames_->isChecked());
    cbDataRate_->setEnabled(info.hasDataRate);
    spinDataRate_->setEnabled(info.hasDataRate && cbDataRate_->isChecked());
    btnConfigure_->setEnabled(info.hasOptions);
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(valid);
}

HIC CompressorDialog::SelectedHandle() {
    const int index = cbCompressor_->currentIndex();
    if (index < 0 || index >= static_cast<int>(compressors_.size()))
        return nullptr;
    const FOURCC code = compressors_[static_cast<size_t>(index)].fourcc;
    if (IsUncompressedCode(code))
        return nullptr;
    if (!handleOpened_) {
        handleOpened_ = true;
        handle_ = ICOpen(ICTYPE_VIDEO, code, ICMODE_COMPRESS);
        // The stored compressor starts from the options it was stored with; the record's
        // own handle is not touched, so Cancel leaves it as it was.
        if (handle_ && vars_.hic && vars_.fccHandler == code)
            CopyState(vars_.hic, handle_);
    }
    return handle_;
}

void CompressorDialog::ConfigureClicked() {
    HIC hic = SelectedHandle();
    if (!hic)
        return;
    CompressorOptionsDialog options(hic, cbCompressor_->currentText(), this);
    options.exec();
}

void CompressorDialog::accept() {
    const int index = cbCompressor_->currentIndex();
    if (index < 0 || index >= static_cast<int>(compressors_.size()))
        return;
    const CompressorInfo& info = compressors_[static_cast<size_t>(index)];
    HIC chosen = SelectedHandle();
    if (vars_.hic && vars_.hic != chosen)
        ICClose(vars_.hic);
    vars_.hic = chosen;
    handle_ = nullptr; // the record owns it now
    handleOpened_ = false;

    vars_.cbSize = kCompVarsSize;
    vars_.dwFlags |= ICMF_COMPVARS_VALID;
    vars_.fccType = ICTYPE_VIDEO;
    vars_.fccHandler = info.fourcc;
    vars_.lQ = qualityChanged_ ? spinQuality_->value() * 100 : std::clamp(vars_.lQ, 0, 10000);
    vars_.lKey = cbKeyFrames_->isChecked() ? spinKeyFrames_->value() : 0;
    vars_.lDataRate = cbDataRate_->isChecked() ? spinDataRate_->value() : 0;
    output_.container = SelectedContainer();
    output_.sound = static_cast<media::SoundCodec>(cbSound_->currentData().toInt());
    output_ = media::Fitted(output_);
    if (subFrames_ && cbMotionBlur_)
        *subFrames_ = cbMotionBlur_->currentData().toInt();
    QDialog::accept();
}

CompressorOptionsDialog::CompressorOptionsDialog(HIC hic, const QString& title, QWidget* parent)
    : QDialog(parent), hic_(hic), options_(ICGetOptions(hic)) {
    setObjectName("CompressorOptionsDialog");
    setWindowTitle(title);
    setModal(true);
    auto* form = new QFormLayout;
    for (const CompressorOption& option : options_) {
        auto* box = new QComboBox(this);
        box->setObjectName(QString::fromStdString("option_" + option.key));
        for (const std::string& choice : option.choices)
            box->addItem(QString::fromStdString(choice));
        box->setCurrentIndex(option.value);
        form->addRow(QString::fromStdString(option.label), box);
        boxes_.push_back(box);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("buttons");
    buttons->button(QDialogButtonBox::Ok)->setObjectName("btnOK");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("btnCancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &CompressorOptionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CompressorOptionsDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void CompressorOptionsDialog::accept() {
    for (size_t i = 0; i < options_.size(); ++i) {
        const int value = boxes_[i]->currentIndex();
        if (value >= 0 && value != options_[i].value)
            ICSetOption(hic_, options_[i].key, value);
    }
    QDialog::accept();
}

int ChooseCompressor(QWidget* parent, COMPVARS& vars, media::OutputFormat& output,
                     const std::string& title, int* subFrames) {
    CompressorDialog dialog(vars, output, QString::fromStdString(title), parent, subFrames);
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

} // namespace vexo
