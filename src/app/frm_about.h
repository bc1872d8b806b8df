// The About window: the program's name, version, authors and purpose. Shown modally; it
// has no close box and ignores Escape, so it closes only by its "&Yay" button.
#pragma once

#include <QDialog>
#include <QPixmap>

class QPushButton;

namespace vexo {

class TfrmAbout : public QDialog {
public:
    explicit TfrmAbout(QWidget* parent);
    void btnCloseClick();

protected:
    void reject() override {} // Escape does not close it
    void closeEvent(QCloseEvent* event) override;

private:
    QPushButton* btnClose_;
};

// The narrow vertical picture at the window's left edge.
QPixmap DrawAboutBitmap(int width, int height);

} // namespace vexo
