// The About window.
#pragma once

#include <QDialog>

class QPushButton;

namespace vexo {

class TfrmAbout : public QDialog {
public:
    explicit TfrmAbout(QWidget* parent);
    void btnCloseClick();

protected:
    void reject() override {} // closed only by its button

private:
    QPushButton* btnClose_;
};

} // namespace vexo
