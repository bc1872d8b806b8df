// Shared pieces of the fault tests: the real main window with its message boxes recorded, a
// game tree with the stand-in game as quake3.exe, and helpers to run a program under a
// file-size limit and to count what FFmpeg finds in an AVI file.
#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/main_window.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"
#include "support/tga_file.h"

namespace vexo::faults {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

// The real window, with message boxes and the shell recorded instead of shown.
class RecordingWindow : public MainWindow {
public:
    using MainWindow::MainWindow;
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        boxes.push_back({text, caption, flags});
        if (onBox)
            onBox(text);
        return (flags & 0x0F) == MB_YESNO ? IDNO : IDOK;
    }
    void ShellExecute(const std::string&, const std::string&, const std::string&,
                      const std::string&, int) override {}
    void ProcessMessages() override {
        MainWindow::ProcessMessages();
        const std::string status = Form().Controls.status.SimpleText();
        if (status != lastStatus) {
            statuses.push_back(status);
            lastStatus = status;
            if (onStatus)
                onStatus(status);
        }
    }
    std::vector<test::MessageBoxCall> boxes;
    std::vector<std::string> statuses;
    std::string lastStatus;
    std::function<void(const std::string&)> onStatus;
    std::function<void(const std::string&)> onBox;
};

// A game installation with three short demos (ten frames each at 25 frames a second).
class GameTreeTest : public ::testing::Test {
protected:
    GameTreeTest() {
        fs::create_directories(mod + "/demos");
        fs::copy_file(VEXO_STAND_IN_GAME, base + "/quake3.exe");
        WriteFile(mod + "/pak0.pk3", "pak");
        for (const char* demo : {"alpha.dm_68", "bravo.dm_68", "charlie.dm_68"})
            WriteFile(mod + "/demos/" + demo, "length 0.4\n");
        fs::create_directories(out);
        WriteConfig("set vexo_nopace 1\n");
        WriteFile(program.path() + "/vexo.ini",
                  "[paths]\nquake=" + base + "\noutput=" + out + "\n");
        platform::SetProgramDirectoryForTesting(program.path());
    }
    ~GameTreeTest() override {
        window.reset();
        platform::SetProgramDirectoryForTesting("");
    }
    void WriteConfig(const std::string& text) {
        WriteFile(program.path() + "/configs/default.cfg", "seta com_maxfps 125\n" + text);
    }
    RecordingWindow& Open() {
        window = std::make_unique<RecordingWindow>(writer, queue);
        window->Form().Guard([&] { window->Form().FormCreate(); });
        window->CreateAuxiliaryWindows();
        window->show();
        MainControls& c = window->Form().Controls;
        c.cbModes.SetItemIndex(0); // 320 x 240 keeps the files small
        c.edFps.SetText("25");
        return *window;
    }
    void Check(int item) {
        window->findChild<QListWidget*>("clbDemos")->item(item)->setCheckState(Qt::Checked);
    }
    void PressStart() {
        auto* start = window->findChild<QPushButton*>("btnStart");
        ASSERT_TRUE(QTest::qWaitFor([&] { return start->isEnabled(); }, 2000));
        QTest::mouseClick(start, Qt::LeftButton);
    }
    int Screenshots() const { return platform::CountMatchingFiles(mod + "/screenshots/shot*.tga"); }
    // The frame numbers the stand-in game painted into each decoded 320 x 240 frame.
    static std::vector<int> FrameNumbers(const std::string& avi) {
        std::vector<int> numbers;
        for (const std::string& frame : test::DecodeFrames(avi, 320, 240))
            numbers.push_back(static_cast<uint8_t>(frame[0]) |
                              (static_cast<uint8_t>(frame[1]) << 8));
        return numbers;
    }
    static std::vector<int> Sequence(int count) {
        std::vector<int> v;
        for (int i = 0; i < count; ++i)
            v.push_back(i);
        return v;
    }
    bool Contains(const std::vector<std::string>& texts, const std::string& text) const {
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }

    TempDir root, program;
    std::string base = root / "Quake III Arena";
    std::string mod = base + "/baseq3";
    std::string out = root / "videos";
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::unique_ptr<RecordingWindow> window;
};

// The number of video packets ffprobe counts in a file; -1 when it finds no video stream.
inline int CountPackets(const std::string& avi) {
    const std::string text =
        test::Capture("ffprobe -v error -select_streams v:0 -count_packets -show_entries "
                      "stream=nb_read_packets -of csv=p=0 '" +
                      avi + "' 2>/dev/null");
    if (text.rfind("N/A", 0) == 0)
        return 0; // the stream is there, without a single packet
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return -1;
    return std::stoi(text);
}

// Lowers this process's file-size limit (which its children inherit) while it lives; writes
// beyond it fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit lowered = old_;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

struct ChildResult {
    int exitCode = -1; // -1: ended by a signal
    std::string err;   // what it wrote to standard error
};

// Runs a program in a child process, with a file-size limit when one is given (SIGXFSZ
// ignored there), and returns its exit code and standard error.
inline ChildResult RunChild(const std::vector<std::string>& args, rlim_t fileSizeLimit = 0) {
    TempDir scratch;
    const std::string errPath = scratch / "stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::FILE* err = std::freopen(errPath.c_str(), "w", stderr);
        (void)err;
        if (fileSizeLimit) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = fileSizeLimit;
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ChildResult result;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    result.err = test::ReadFile(errPath);
    return result;
}

} // namespace vexo::faults
