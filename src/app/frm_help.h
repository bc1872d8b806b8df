// The Quick Help window: the first-time setup and use instructions. Shown modally; closed
// by its button or its close box.
#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;
class QPushButton;

namespace vexo {

class TfrmHelp : public QDialog {
public:
    explicit TfrmHelp(QWidget* parent);
    void btnCloseClick();

    // The help text, line by line.
    static QStringList HelpLines();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPlainTextEdit* memo_;
    QPushButton* btnClose_;
};

} // namespace vexo
