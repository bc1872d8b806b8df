// Starting an outside program and waiting for it, shaped after what the program expects of
// the Windows process calls: a process is started from one command line, in a working
// directory, at high priority, without inheriting the program's open files; the caller waits
// on it in slices of milliseconds, reads its exit code once it has ended, and closes it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vexo::platform {

// The executable and the arguments a command line names.
struct CommandLineParts {
    std::string Executable;        // the path as found (case resolved), not yet made absolute
    std::vector<std::string> Args; // the arguments after the executable, without it
};

// Reads a command line the way the Windows process start reads one whose executable path is
// not quoted: the prefixes of the line that end at a blank (and finally the whole line) are
// tried in growing order until one names an existing file, so
// "/x/Quake III Arena/quake3.exe +set fs_game baseq3" names "/x/Quake III Arena/quake3.exe".
// A line that begins with a double quote names the executable up to the closing quote. The
// rest is split into arguments at blanks; double quotes group blanks into one argument and
// are removed. A relative executable path is looked up from the current directory; a bare
// name without a separator is also looked up along PATH. Nothing when no file is found.
std::optional<CommandLineParts> SplitCommandLine(const std::string& commandLine);

enum class ProcessPriority { Normal, High };

// How a process is started beyond its command line and working directory.
struct ProcessOptions {
    ProcessPriority Priority = ProcessPriority::Normal;
    // Variables set in the new process's environment on top of the program's own.
    std::vector<std::pair<std::string, std::string>> Environment;
    // Standard output and error go into a pipe the process object drains on a thread of its
    // own (so a process that writes much never blocks on it), and standard input reads
    // nothing. Off, all three are the program's own.
    bool CaptureOutput = false;
    // The process is ended when the program ends, however it ends (killed included): at
    // once, or, with EndAskingFirst, asked to end (SIGTERM), so that it can tidy up.
    bool EndWithProgram = false;
    bool EndAskingFirst = false;
    // The process leads a process group of its own: a Ctrl-C at the program's terminal, which
    // goes to the terminal's foreground group, reaches the program and not the process.
    bool NewProcessGroup = false;
};

// A started process. Move-only; destroying it closes it.
class Process {
public:
    Process() = default;
    ~Process();
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Valid() const { return pid_ > 0; }
    int Id() const { return pid_; }

    // Waits up to timeoutMs milliseconds (a negative value waits without limit) for the
    // process to end. True when it has ended (also when it had ended before the call, and
    // for a closed process); false when the time ran out.
    bool Wait(int timeoutMs);

    // The exit code of an ended process. False while it still runs, or when its end cannot
    // be read. A process killed by a signal reads as 128 + the signal number, never as 0.
    bool ExitCode(int& code);

    // Ends a process that still runs, at once (it gets no chance to refuse); Wait then
    // reports its end.
    void Terminate();

    // Releases the process. A process that still runs keeps running; it is reaped in the
    // background when it ends, so it leaves no zombie behind.
    void Close();

    // For a process started with CaptureOutput: the whole lines it wrote to its standard
    // output and error since the last call, without their line ends, in order (a last line
    // without a line end once the process has closed its output). Lines are cut at 4 KiB;
    // at most 1000 lines wait to be taken, older ones are dropped first.
    std::vector<std::string> TakeOutputLines();
    // True once the process has closed its output and all of it is waiting to be taken (at
    // once for a process whose output is not captured). A program the process started may
    // hold the output open beyond the process's end.
    bool OutputClosed();

    struct Output;

private:
    friend std::optional<Process> StartProcess(const std::string&, const std::string&,
                                               const ProcessOptions&, std::string*);
    bool Poll();
    void Reaped(int status);

    std::shared_ptr<Output> output_;
    int pid_ = 0;
    int pidfd_ = -1;
    bool ended_ = false;
    bool exitKnown_ = false;
    int exitCode_ = 0;
};

// The program a name stands for: the name itself when it holds a separator, else the first
// file of that name along PATH; only a file the system would run counts. Empty when there is
// none.
std::string FindProgram(const std::string& name);

// True for a Windows program: a file that begins with "MZ". Such a program (quake3.exe copied
// from a Windows installation) runs here through Wine.
bool IsWindowsProgram(const std::string& path);
// The program that runs Windows programs, looked for along PATH.
inline constexpr const char* kWindowsProgramLoader = "wine";

// Starts the program a command line names (SplitCommandLine), with the program's own
// environment, in workingDirectory (case resolved like every path of the program). A Windows
// program is started through Wine, with the same arguments and working directory; without
// Wine it cannot be started. The new process inherits no open file besides standard input,
// output and error; with ProcessPriority::High it runs at a raised priority where the system
// allows it, at the normal one otherwise. Nothing when the process could not be started (no
// such file, not executable, no Wine for a Windows program, no such working directory);
// error, when given, then tells why.
std::optional<Process> StartProcess(const std::string& commandLine,
                                    const std::string& workingDirectory,
                                    const ProcessOptions& options, std::string* error = nullptr);
inline std::optional<Process> StartProcess(const std::string& commandLine,
                                           const std::string& workingDirectory,
                                           ProcessPriority priority, std::string* error = nullptr) {
    ProcessOptions options;
    options.Priority = priority;
    return StartProcess(commandLine, workingDirectory, options, error);
}

} // namespace vexo::platform
