// The Quick Help window.
#pragma once

#include <QDialog>

class QPushButton;

namespace vexo {

class TfrmHelp : public QDialog {
public:
    explicit TfrmHelp(QWidget* parent);
    void btnCloseClick();

private:
    QPushButton* btnClose_;
};

} // namespace vexo
