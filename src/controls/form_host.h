// What the main window's logic needs from the window system around it. The real window
// (app/) implements it with Qt; tests implement it with recording fakes.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vexo {

// Message box flags and results, with the values of the Windows message box.
enum : unsigned {
    MB_OK = 0x0,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONWARNING = 0x30, // the exclamation icon
    MB_ICONINFORMATION = 0x40,
};
enum : int { IDOK = 1, IDYES = 6, IDNO = 7 };

// Show commands of the shell.
enum : int { SW_SHOWNORMAL = 1, SW_SHOW = 5, SW_SHOWMINNOACTIVE = 7 };

struct OpenDialogOptions {
    std::string title;
    std::string filter; // "description|pattern" pairs, or a single text without a pattern
    std::string fileName;
    std::string defaultExt;
    std::string directory; // the folder the dialog opens in; empty for the system's choice
    // Of the open-file dialog: a folder for which this holds may be chosen itself, where a file
    // is asked for; opening it returns the folder with a separator after it, instead of
    // entering it.
    std::function<bool(const std::string& folder)> acceptsFolder;
};

namespace media {
struct COMPVARS;
struct OutputFormat;
} // namespace media

class IFormHost {
public:
    virtual ~IFormHost() = default;

    // Handles all pending window events (and the work that worker threads handed over).
    virtual void ProcessMessages() = 0;
    // A message box owned by the main window; returns IDOK, IDYES or IDNO.
    virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
    // The text the task bar shows for the program.
    virtual void SetApplicationTitle(const std::string& title) = 0;
    virtual std::string ApplicationTitle() const = 0;
    // A plain pause on the window thread.
    virtual void Sleep(int milliseconds) = 0;

    // The open-file dialog: the chosen file's full path, or nothing when cancelled.
    virtual std::optional<std::string> OpenFileDialog(const OpenDialogOptions& options) = 0;
    // A folder chooser: a path inside the chosen folder (folder + separator + the
    // options' file name), or nothing when cancelled.
    virtual std::optional<std::string> ChooseFolderDialog(const OpenDialogOptions& options) = 0;

    // The shell: opens a file, folder, address or program. params and directory may be
    // empty. False when it could not be handed over (no program to open it, a program that
    // cannot be started); what the started program does then is not followed.
    virtual bool ShellExecute(const std::string& verb, const std::string& file,
                              const std::string& params, const std::string& directory,
                              int showCommand) = 0;

    // Modal showings of the two small windows.
    virtual void ShowAboutModal() = 0;
    virtual void ShowHelpModal() = 0;

    // The compressor-choice dialog, with the container and the sound of the files and motion
    // blur's sub-frames a frame; non-zero when the user confirmed it (vars, output and
    // subFrames then hold the choice).
    virtual int CompressorChoose(media::COMPVARS& vars, media::OutputFormat& output, int& subFrames,
                                 const std::string& title) = 0;

    // Closes the main window, which ends the program.
    virtual void CloseMainWindow() = 0;
};

} // namespace vexo
