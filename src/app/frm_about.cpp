#include "app/frm_about.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>

namespace vexo {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, QRect geometry, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// Labels size themselves to their text: a single-line label whose text is wider than its
// designed box (another font than the designed one) grows to the right instead of clipping.
void FitLabels(QWidget* window) {
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->wordWrap() || !label->pixmap().isNull())
            continue;
        const int needed = label->fontMetrics().horizontalAdvance(label->text());
        if (needed > label->width())
            label->resize(needed, label->height());
    }
}

} // namespace

QPixmap DrawAboutBitmap(int width, int height) {
    QPixmap pixmap(width, height);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, height);
    g.setColorAt(0, QColor(24, 28, 36));
    g.setColorAt(1, QColor(70, 86, 120));
    p.fillRect(pixmap.rect(), g);
    // A column of film-strip holes and the program's name running upwards.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 226, 236));
    for (int y = 3; y + 3 < height; y += 8)
        p.drawRoundedRect(QRectF(1.5, y, 3, 4), 1, 1);
    p.setPen(QColor(255, 196, 57));
    QFont f("DejaVu Sans Condensed");
    f.setPixelSize(9);
    f.setBold(true);
    p.setFont(f);
    p.translate(width - 2, height - 4);
    p.rotate(-90);
    p.drawText(QRect(0, -(width - 6), height - 8, width - 6), Qt::AlignLeft | Qt::AlignVCenter,
               "VEXOGRAPH");
    return pixmap;
}

TfrmAbout::TfrmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("frmAbout");
    setWindowTitle("About VEXO");
    setFixedSize(233, 194);
    QFont font("DejaVu Sans Condensed");
    font.setPixelSize(11);
    setFont(font);
    QFont small = font;
    small.setPixelSize(9);
    QFont bold = font;
    bold.setBold(true);

    auto* panel = new QFrame(this);
    panel->setObjectName("Panel1");
    panel->setGeometry(8, 8, 17, 109);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setLineWidth(1);
    auto* image = new QLabel(panel);
    image->setObjectName("Image1");
    const QRect inner = panel->contentsRect();
    image->setGeometry(inner);
    image->setScaledContents(true);
    image->setPixmap(DrawAboutBitmap(inner.width(), inner.height()));

    MakeLabel(this, "Label1", {32, 8, 145, 13}, "Vexograph")->setFont(bold);
    MakeLabel(this, "Label2", {32, 20, 97, 13}, "PUBLIC BETA v0.5");
    MakeLabel(this, "Label3", {32, 44, 169, 13}, "2026 The Vexograph team");
    MakeLabel(this, "Label4", {32, 56, 128, 13}, "team@vexograph.example");
    auto* purpose = MakeLabel(
        this, "Label6", {32, 80, 189, 61},
        "The sole purpose of this utility is to turn Q3A demos into compressed or uncompressed "
        "AVI video files with basically just one click in order to simplify formerly time "
        "wasting and brain twisting Q3A video creation.");
    purpose->setWordWrap(true);
    purpose->setFont(small);

    auto* bevel = new QFrame(this);
    bevel->setObjectName("Bevel1");
    bevel->setGeometry(28, 142, 197, 5);
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);

    MakeLabel(this, "Label7", {28, 148, 197, 13}, "https://vexograph.example")->setFont(small);

    btnClose_ = new QPushButton("&Yay", this);
    btnClose_->setObjectName("btnClose");
    btnClose_->setGeometry(152, 160, 73, 25);
    btnClose_->setDefault(true);
    btnClose_->setFocus();
    connect(btnClose_, &QPushButton::clicked, this, [this] { btnCloseClick(); });
    FitLabels(this);
}

void TfrmAbout::btnCloseClick() {
    done(0);
}

void TfrmAbout::closeEvent(QCloseEvent* event) {
    // Without a close box the window system may still ask (a keyboard shortcut); only the
    // button closes it.
    event->ignore();
}

} // namespace vexo
