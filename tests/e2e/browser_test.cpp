// A video the program writes for the web plays in a real browser: Debian's Chromium, headless,
// loads an H.264 + AAC MP4 file from a page served on localhost into a <video> element and
// plays it to its end (tests/e2e/play_in_browser.py drives it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "frames/avi_file.h"
#include "frames/avi_support.h" // the test pictures and the command runner
#include "support/temp_dir.h"

namespace vexo {
namespace {

using test::OwnedImage;
using test::RunCommand;

bool Installed(const char* program) {
    return std::system(("command -v " + std::string(program) + " >/dev/null").c_str()) == 0;
}

TEST(BrowserTest, AnH264AndAacMp4PlaysToItsEndInChromium) {
    if (!Installed("chromium") || !Installed("chromedriver"))
        GTEST_SKIP() << "chromium and chromedriver are not installed (scripts/deps installs them)";
    test::TempDir dir;
    const std::string path = dir / "demo.mp4";
    CAviFile writer;
    test::Choose(writer, media::MakeFourCC('H', '2', '6', '4'), 6800);
    ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1,
                            media::OutputFormat{media::Container::Mp4, media::SoundCodec::Aac}));
    ASSERT_TRUE(writer.AddSound(22050, 2, 16));
    // Two seconds: a moving picture and a tone, the sound handed over as the engine's is.
    std::string pcm;
    for (int i = 0; i < 882 * 2; ++i) {
        const auto v = static_cast<int16_t>(((i * 40) % 800 - 400) * 20);
        pcm.append({static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)});
    }
    for (int n = 0; n < 50; ++n) {
        const OwnedImage picture = test::TestPicture(320, 240, 3, n);
        ASSERT_TRUE(writer.WriteFrame(&picture.image, n));
        ASSERT_TRUE(writer.WriteSound(reinterpret_cast<const uint8_t*>(pcm.data()),
                                      static_cast<int32_t>(pcm.size())));
    }
    writer.Close(0);

    int exitCode = -1;
    const std::string seen = RunCommand(
        "python3 '" + std::string(VEXO_PLAY_IN_BROWSER) + "' '" + path + "' 60", &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(seen, "duration=2.000 ended=true\n");
}

} // namespace
} // namespace vexo
