// Screenshots that are damaged or never become readable, through the headless encoder in a
// child process: the collector reports the read error after its retries, the frames before
// it stay in a complete AVI file, and nothing crashes, hangs or allocates the size a broken
// header claims.
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "fault_fixture.h"
#include "frames/dir_thread.h"

namespace vexo::faults {

using media::FOURCC_DIB, media::ICMF_COMPVARS_VALID, media::kCompVarsSize;
namespace {

// Ten distinct 320 x 240 screenshots shot0000.tga .. shot0009.tga, colour red = 20 * n.
void WriteShots(const std::string& dir, int count) {
    char name[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "/shot%04d.tga", i);
        test::WriteTga(dir + name, 320, 240, static_cast<uint8_t>(20 * i), 7, 9);
    }
}

// The red value of the top left pixel of every decoded frame.
std::vector<int> Reds(const std::string& avi) {
    std::vector<int> reds;
    for (const std::string& frame : test::DecodeFrames(avi, 320, 240))
        reds.push_back(static_cast<uint8_t>(frame[0]));
    return reds;
}

std::vector<int> RedsUpTo(int count) {
    std::vector<int> reds;
    for (int i = 0; i < count; ++i)
        reds.push_back(20 * i);
    return reds;
}

// A bare 18-byte TGA header.
std::string Header(int width, int height, int depth) {
    std::string h(18, '\0');
    h[2] = 2;
    h[12] = static_cast<char>(width & 255);
    h[13] = static_cast<char>(width >> 8);
    h[14] = static_cast<char>(height & 255);
    h[15] = static_cast<char>(height >> 8);
    h[16] = static_cast<char>(depth);
    return h;
}

class DamagedScreenshotTest : public ::testing::Test {
protected:
    DamagedScreenshotTest() { fs::create_directories(shots); }
    // The encoder, limited to 60 seconds and, when asked, to an address space.
    ChildResult Encode(rlim_t addressSpace = 0) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::alarm(60); // a hang ends in SIGALRM, which the caller sees as no exit code
            if (addressSpace) {
                rlimit as{addressSpace, addressSpace};
                ::setrlimit(RLIMIT_AS, &as);
            }
            std::FILE* err = std::freopen(errPath.c_str(), "w", stderr);
            (void)err;
            ::execl(VEXO_ENCODE, VEXO_ENCODE, "--interval", "0", "--fourcc", "DIB", shots.c_str(),
                    avi.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ChildResult result;
        int status = 0;
        if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
        result.err = test::ReadFile(errPath);
        return result;
    }
    // The encoder stopped at shot0003 with the read error after twenty attempts, and the
    // three frames before it are in a complete file.
    void ExpectReadErrorAfterThreeFrames(const ChildResult& r) {
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("Retrying frame 3 (19) ..."), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Retrying frame 3 (20)"), std::string::npos);
        EXPECT_NE(r.err.find("Error: Error reading a generated TGA file."), std::string::npos);
        EXPECT_EQ(CountPackets(avi), 3);
        EXPECT_EQ(Reds(avi), RedsUpTo(3));
    }

    TempDir dir;
    std::string shots = dir / "shots";
    std::string avi = dir / "out.avi";
    std::string errPath = dir / "stderr";
};

TEST_F(DamagedScreenshotTest, AFileThatStaysTooShortIsReportedAfterItsRetries) {
    WriteShots(shots, 6);
    WriteFile(shots + "/shot0003.tga", Header(320, 240, 24) + "short"); // 23 bytes
    ExpectReadErrorAfterThreeFrames(Encode());
}

TEST_F(DamagedScreenshotTest, ATruncatedFileIsNeverTakenAsATornFrame) {
    WriteShots(shots, 6);
    const std::string whole = test::TgaBytes(320, 240, 60, 7, 9);
    WriteFile(shots + "/shot0003.tga", whole.substr(0, whole.size() / 2));
    ExpectReadErrorAfterThreeFrames(Encode());
}

TEST_F(DamagedScreenshotTest, AGiantHeaderAllocatesNothingOfItsSize) {
    WriteShots(shots, 6);
    // 65535 x 65535 pixels with a few bytes of data, and a sparse file whose length covers
    // what a 16-bit picture of that size would need (8 GiB, nothing of it on disk).
    WriteFile(shots + "/shot0003.tga", Header(65535, 65535, 32) + std::string(64, 'x'));
    WriteFile(shots + "/shot0004.tga", Header(65535, 65535, 16));
    ASSERT_EQ(::truncate((shots + "/shot0004.tga").c_str(), 18 + 2LL * 65535 * 65535), 0);
    // Half a gigabyte of address space is plenty for a 320 x 240 video and far from the
    // 12 GiB such a header asks for. (AddressSanitizer reserves terabytes of address space
    // up front, so its builds run without the limit.)
#if defined(__SANITIZE_ADDRESS__)
    const rlim_t addressSpace = 0;
#else
    const rlim_t addressSpace = rlim_t{512} << 20;
#endif
    ExpectReadErrorAfterThreeFrames(Encode(addressSpace));
    fs::remove(shots + "/shot0003.tga");
    // The sparse one alone fails the same way.
    ExpectReadErrorAfterThreeFrames(Encode(addressSpace));
}

TEST_F(DamagedScreenshotTest, ANamedPipeIsNoScreenshotAndBlocksNothing) {
    WriteShots(shots, 3);
    // Opening a pipe without a writer for reading would wait forever.
    ASSERT_EQ(::mkfifo((shots + "/shot0001x.tga").c_str(), 0644), 0);
    const ChildResult r = Encode();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Reds(avi), RedsUpTo(3));
}

// The headless encoder in a child process whose files may not grow past 1 MiB: the frame
// that does not fit is refused, and the file is completed with every frame before it.
TEST(EncoderUnderAFileSizeLimit, KeepsEveryFrameWrittenBeforeTheLimit) {
    TempDir dir;
    const std::string shots = dir / "shots";
    const std::string avi = dir / "out.avi";
    WriteShots(shots, 10);
    const ChildResult r =
        RunChild({VEXO_ENCODE, "--interval", "0", "--fourcc", "DIB", shots, avi}, rlim_t{1} << 20);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Error: Error writing AVI frame to output file."), std::string::npos)
        << r.err;
    // The last frame the encoder began is the one that did not fit.
    const size_t at = r.err.rfind("Writing frame ");
    ASSERT_NE(at, std::string::npos);
    const int refused = std::atoi(r.err.c_str() + at + 14);
    ASSERT_GE(refused, 1);
    ASSERT_LT(refused, 10);
    EXPECT_EQ(CountPackets(avi), refused);
    EXPECT_EQ(Reds(avi), RedsUpTo(refused));
    EXPECT_LE(fs::file_size(avi), 1u << 20);
}

// The same on a failing disk: past 1 MiB every write fails with EIO, after part of a frame
// reached the file. The file is still finished, its header counting the frames before the
// failure, each of them whole.
TEST(EncoderOnAFailingDisk, FinishesTheFileWithEveryFrameBeforeTheFailure) {
    TempDir dir;
    const std::string shots = dir / "shots";
    const std::string avi = dir / "out.avi";
    WriteShots(shots, 10);
    // AddressSanitizer's runtime would refuse to come after a preloaded library.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const ChildResult r =
        RunChild({VEXO_ENCODE, "--interval", "0", "--fourcc", "DIB", shots, avi}, 0,
                 {std::string("LD_PRELOAD=") + VEXO_FAILING_DISK, "VEXO_FAIL_WRITES_AT=1048576",
                  std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Error: Error writing AVI frame to output file."), std::string::npos)
        << r.err;
    const int frames = CountPackets(avi);
    ASSERT_GE(frames, 1);
    ASSERT_LT(frames, 10);
    EXPECT_EQ(test::Capture("ffprobe -v error -select_streams v:0 -show_entries "
                            "stream=nb_frames -of csv=p=0 '" +
                            avi + "'"),
              std::to_string(frames) + "\n");
    EXPECT_EQ(test::Capture("ffmpeg -nostdin -v error -i '" + avi + "' -f null - 2>&1"), "");
    EXPECT_EQ(Reds(avi), RedsUpTo(frames));
}

// Screenshots an earlier demo's failed collector left behind are passed over by the next
// collector: neither taken, deleted nor counted as a scan that found something, so that it
// still waits for its own game's first screenshot.
TEST(LeftoverScreenshots, ArePassedOverWithoutEndingTheWait) {
    using namespace std::chrono_literals;
    TempDir dir;
    const std::string shots = dir / "screenshots";
    WriteShots(shots, 3);
    const std::vector<std::string> leftovers{shots + "/shot0000.tga", shots + "/shot0001.tga",
                                             shots + "/shot0002.tga"};
    CAviFile writer;
    writer.CodecVars.cbSize = kCompVarsSize;
    writer.CodecVars.dwFlags = ICMF_COMPVARS_VALID;
    writer.CodecVars.fccHandler = FOURCC_DIB;
    ASSERT_TRUE(writer.Open(dir / "out.avi", 640, 480, 25, 1));
    platform::MainThreadQueue queue;
    std::vector<std::string> texts;
    CollectorUi ui;
    ui.Progress = [&](const FrameProgress& p) { texts.push_back(FrameStatusText(p)); };
    auto collector = TDirThread::Create(queue, ui);
    collector->SetDirectory(shots);
    collector->SetMask("shot*.tga");
    collector->Interval = 2;
    collector->Writer = &writer;
    collector->SetPassOver(leftovers);
    collector->Resume();
    // Many scans that see only the leftovers; three idle ones would have ended it.
    for (int i = 0; i < 100; ++i) {
        queue.Drain();
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(collector->Active());
    // The game's own screenshots, numbered past the taken names.
    test::WriteTga(shots + "/shot0003.tga", 320, 240, 100, 7, 9);
    test::WriteTga(shots + "/shot0004.tga", 320, 240, 120, 7, 9);
    while (collector->Active() || !collector->CleanupDone()) {
        queue.Drain();
        std::this_thread::sleep_for(1ms);
    }
    queue.Drain();
    writer.Close(0);
    collector->Terminate();
    EXPECT_EQ(collector->FrameCounter(), 2);
    EXPECT_EQ(Reds(dir / "out.avi"), (std::vector<int>{100, 120}));
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Sensing..."), 3);
    for (const std::string& path : leftovers)
        EXPECT_EQ(fs::file_size(path), 18u + 320 * 240 * 3) << path;
    EXPECT_FALSE(fs::exists(shots + "/shot0003.tga"));
}

} // namespace
} // namespace vexo::faults
