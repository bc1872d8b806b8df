// What the main window's logic asks of the window system (IFormHost): pumping messages,
// message boxes, the title, the file and folder dialogs, the desktop's programs, and the
// small windows.
#include "app/main_window.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QThread>
#include <QUrl>

#include "app/compressor_dialog.h"
#include "app/frm_about.h"
#include "app/frm_help.h"
#include "app/qt_text.h"
#include "platform/fs.h"

namespace vexo {

void MainWindow::ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    queue_.Drain();
}

int MainWindow::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    QMessageBox box(this);
    box.setWindowTitle(Q(caption));
    box.setText(Q(text));
    if ((flags & 0xF0) == MB_ICONERROR)
        box.setIcon(QMessageBox::Critical);
    else if ((flags & 0xF0) == MB_ICONWARNING)
        box.setIcon(QMessageBox::Warning);
    else if ((flags & 0xF0) == MB_ICONINFORMATION)
        box.setIcon(QMessageBox::Information);
    if ((flags & 0x0F) == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

void MainWindow::SetApplicationTitle(const std::string& title) {
    appTitle_ = title;
    // The task bar shows the window's own title here.
    setWindowTitle(Q(title.empty() ? std::string(kMainCaption) : title));
}

void MainWindow::Sleep(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

namespace {

// An open-file dialog that also lets the user choose a folder the caller accepts: opening
// such a folder (selected, or typed) chooses it instead of entering it. Qt's own dialog, as
// a system dialog cannot be asked to do that.
class FileOrFolderDialog : public QFileDialog {
public:
    FileOrFolderDialog(QWidget* parent, const QString& title,
                       std::function<bool(const std::string&)> acceptsFolder)
        : QFileDialog(parent, title), acceptsFolder_(std::move(acceptsFolder)) {
        if (acceptsFolder_)
            setOption(QFileDialog::DontUseNativeDialog);
    }
    // The folder chosen, when one was.
    const QString& Folder() const { return folder_; }

    void accept() override {
        const QStringList files = selectedFiles();
        if (acceptsFolder_ && files.size() == 1) {
            // The dialog gives a name without a dot its default suffix, a folder's too where
            // it has not looked at the folder yet.
            QString chosen = files.first();
            const QString suffix = "." + defaultSuffix();
            if (!QFileInfo::exists(chosen) && chosen.endsWith(suffix))
                chosen.chop(suffix.size());
            const QFileInfo folder(chosen);
            if (folder.isDir() && acceptsFolder_(S(folder.absoluteFilePath()))) {
                folder_ = folder.absoluteFilePath();
                done(QDialog::Accepted);
                return;
            }
        }
        QFileDialog::accept();
    }

private:
    std::function<bool(const std::string&)> acceptsFolder_;
    QString folder_;
};

// A dialog's starting folder: the one asked for where it exists, else the user's home.
QString StartFolder(const std::string& directory) {
    return Q(!directory.empty() && platform::DirectoryExists(directory)
                 ? directory
                 : platform::UserHomeDirectory());
}

} // namespace

std::optional<std::string> MainWindow::OpenFileDialog(const OpenDialogOptions& options) {
    FileOrFolderDialog dialog(this, Q(options.title), options.acceptsFolder);
    dialog.setDirectory(StartFolder(options.directory));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setSizeGripEnabled(true);
    const QString filter = Q(options.filter);
    const int bar = filter.indexOf('|');
    // Patterns are separated by ";" in the filter and by blanks in the dialog's.
    dialog.setNameFilter(
        bar < 0 ? filter : filter.left(bar) + " (" + filter.mid(bar + 1).replace(';', ' ') + ")");
    if (!options.defaultExt.empty())
        dialog.setDefaultSuffix(Q(options.defaultExt));
    dialog.selectFile(Q(options.fileName));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    if (!dialog.Folder().isEmpty()) {
        std::string folder = S(dialog.Folder());
        if (folder.back() != platform::kPathSep)
            folder += platform::kPathSep;
        return folder;
    }
    if (dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return S(dialog.selectedFiles().first());
}

std::optional<std::string> MainWindow::ChooseFolderDialog(const OpenDialogOptions& options) {
    QString dir =
        QFileDialog::getExistingDirectory(this, Q(options.title), StartFolder(options.directory));
    if (dir.isEmpty())
        return std::nullopt;
    std::string path = S(dir);
    if (path.empty() || path.back() != platform::kPathSep)
        path += platform::kPathSep;
    return path + options.fileName;
}

bool MainWindow::ShellExecute(const std::string& verb, const std::string& file,
                              const std::string& params, const std::string& directory, int) {
    (void)verb;
    // The desktop's services answer false where they find no program to open the target
    // (no launcher such as xdg-open installed, a platform without one).
    if (file.empty())
        return QDesktopServices::openUrl(QUrl::fromLocalFile(Q(directory)));
    if (file.find("://") != std::string::npos)
        return QDesktopServices::openUrl(QUrl(Q(file)));
    if (file == "notepad.exe") {
        // The desktop's default text editor stands in for Notepad.
        QString target = Q(params);
        if (target.size() >= 2 && target.startsWith('"') && target.endsWith('"'))
            target = target.mid(1, target.size() - 2);
        return QDesktopServices::openUrl(QUrl::fromLocalFile(target));
    }
    if (!params.empty())
        return QProcess::startDetached(Q(file), QProcess::splitCommand(Q(params)), Q(directory));
    return QDesktopServices::openUrl(QUrl::fromLocalFile(Q(file)));
}

void MainWindow::ShowAboutModal() {
    if (about_)
        about_->exec();
}

void MainWindow::ShowHelpModal() {
    if (help_)
        help_->exec();
}

int MainWindow::CompressorChoose(media::COMPVARS& vars, media::OutputFormat& output, int& subFrames,
                                 const std::string& title) {
    return ChooseCompressor(this, vars, output, title, &subFrames);
}

void MainWindow::CloseMainWindow() {
    close();
}

} // namespace vexo
