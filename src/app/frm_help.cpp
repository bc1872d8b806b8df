#include "app/frm_help.h"

#include <QPushButton>

namespace vexo {

TfrmHelp::TfrmHelp(QWidget* parent) : QDialog(parent) {
    setObjectName("frmHelp");
    setWindowTitle("VEXO Quick Help");
    setFixedSize(420, 290);
    btnClose_ = new QPushButton("&Close", this);
    btnClose_->setObjectName("btnClose");
    btnClose_->setGeometry(340, 260, 75, 25);
    connect(btnClose_, &QPushButton::clicked, this, [this] { btnCloseClick(); });
}

void TfrmHelp::btnCloseClick() { done(0); }

} // namespace vexo
