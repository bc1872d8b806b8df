#include "app/frm_help.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <algorithm>

namespace vexo {

QStringList TfrmHelp::HelpLines() {
    return {
        "PLEASE REMEMBER! THIS IS A PUBLIC BETA RELEASE.",
        "",
        "THERE WILL DEFINATELY APPEAR BUGS ON DIFFERENT SYSTEMS. THIS",
        "VERSION WAS TESTED ON WIN2000 AND IS KNOWN TO SOMETIMES HAVE",
        "PROBLEMS WITH THE FRAME ORDER ON SLOWER SYSTEMS.",
        "",
        "VEXO first time setup:",
        "",
        "1. select your quake iii area base directory",
        "2. select the output path where you want to store generated avi files",
        "3. click \"codec\" and select the video codec to use to compress your output avi ",
        "files. if you wish to install the lossless huffyuv codec (recommended for ",
        "intermediate output) double click the q3a logo in the banner image, restart ",
        "vexo and select the huffyuv codec.",
        "",
        "VEXO first time use:",
        "",
        "1. select a quake iii modification to use from the list. all demos available for ",
        "that modification will appear on the right.",
        "2. select a config to use. config files are placed in a folder called \"configs\" in ",
        "the VEXO directory. you can edit copy your configs there or edit them and ",
        "they'll appear in the list next time you start VEXO.",
        "3. select a resolution for the output avi video file (640x480 or lower is a good ",
        "choice for the start) depending on your free hard disk space",
        "4. make sure output frames per second (avi fps), q3a frames per second and ",
        "timescale meet your needs",
        "5. check one or more demos from the demos list that you wish to record. you ",
        "better record one by one.",
        "6. click \"start\" and wait the demo in q3a to finish",
        "7. exit from quake iii arena and wait for Vexograph to do its work",
        "",
        "VEXO regular use:",
        "",
        "1. select a quake iii modification to use from the list",
        "2. select a config to use",
        "3. select a resolution for the output avi video file",
        "4. click \"start\" and wait the demo in q3a to finish",
        "5. exit from quake iii arena and wait for Vexograph to do its work",
        "",
        "that's it. looks like a lot, but isn't really.",
    };
}

TfrmHelp::TfrmHelp(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName("frmHelp");
    setWindowTitle("VEXO Quick Help");
    setFixedSize(420, 290);
    QFont font("DejaVu Sans Condensed");
    font.setPixelSize(11);
    setFont(font);

    memo_ = new QPlainTextEdit(this);
    memo_->setObjectName("Memo1");
    memo_->setGeometry(8, 8, 405, 249);
    memo_->setReadOnly(true);
    memo_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo_->setFrameShape(QFrame::NoFrame);
    QPalette pal = memo_->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    memo_->setPalette(pal);
    memo_->setPlainText(HelpLines().join('\n'));

    auto* hint = new QLabel("scroll down for more...", this);
    hint->setObjectName("Label1");
    hint->setGeometry(8, 260, 124, 13);
    QFont bold = font;
    bold.setBold(true);
    hint->setFont(bold);
    // The label sizes itself to its text rather than clip it in another font than designed.
    hint->resize(std::max(hint->width(), hint->fontMetrics().horizontalAdvance(hint->text())),
                 hint->height());

    btnClose_ = new QPushButton("&Close", this);
    btnClose_->setObjectName("btnClose");
    btnClose_->setGeometry(340, 260, 75, 25);
    btnClose_->setAutoDefault(false);
    connect(btnClose_, &QPushButton::clicked, this, [this] { btnCloseClick(); });
}

void TfrmHelp::btnCloseClick() {
    done(0);
}

void TfrmHelp::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    memo_->setFocus();
}

} // namespace vexo
