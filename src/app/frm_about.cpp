#include "app/frm_about.h"

#include <QPushButton>

namespace vexo {

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName("frmAbout");
    setWindowTitle("About VEXO");
    setFixedSize(233, 194);
    btnClose_ = new QPushButton("&Yay", this);
    btnClose_->setObjectName("btnClose");
    btnClose_->setGeometry(152, 160, 73, 25);
    btnClose_->setDefault(true);
    connect(btnClose_, &QPushButton::clicked, this, [this] { btnCloseClick(); });
}

void TfrmAbout::btnCloseClick() { done(0); }

} // namespace vexo
