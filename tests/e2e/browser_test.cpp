// An H.264 and AAC MP4 file the writer makes plays to its end in a real browser: headless
// Chromium loads it from a page on localhost (play_in_browser.py drives it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "frames/avi_file.h"
#include "frames/avi_support.h" // the test pictures and the command runner
#include "support/temp_dir.h"

namespace vexo {
namespace {

TEST(BrowserTest, AnH264AndAacMp4PlaysToItsEndInChromium) {
    if (std::system("command -v chromium >/dev/null && command -v chromedriver >/dev/null") != 0)
        GTEST_SKIP() << "chromium and chromedriver are not installed (scripts/deps installs them)";
    test::TempDir dir;
    const std::string path = dir / "demo.mp4";
    CAviFile writer;
    test::Choose(writer, media::MakeFourCC('H', '2', '6', '4'), 6800);
    ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1,
                            media::OutputFormat{media::Container::Mp4, media::SoundCodec::Aac}));
    ASSERT_TRUE(writer.AddSound(22050, 2, 16));
    std::string tone; // a frame's worth
    for (int i = 0; i < 882 * 4; ++i)
        tone.push_back(static_cast<char>(i % 50 * 5));
    for (int n = 0; n < 50; ++n) {
        const test::OwnedImage picture = test::TestPicture(320, 240, 3, n);
        ASSERT_TRUE(writer.WriteFrame(&picture.image, n));
        ASSERT_TRUE(writer.WriteSound(reinterpret_cast<const uint8_t*>(tone.data()),
                                      static_cast<int32_t>(tone.size())));
    }
    writer.Close(0);
    int exitCode = -1;
    EXPECT_EQ(test::RunCommand("python3 '" VEXO_PLAY_IN_BROWSER "' '" + path + "'", &exitCode),
              "duration=2.000 ended=true\n");
    EXPECT_EQ(exitCode, 0);
}

} // namespace
} // namespace vexo
