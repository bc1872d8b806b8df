#include <gtest/gtest.h>

#include "util/path.h"

namespace vexo {
namespace {

// Paths are joined as written: the user's own text (a trailing separator, blanks, an empty
// folder) reaches the game and the file system unchanged.
TEST(JoinPathTest, JoinsWithOneSeparatorAndNormalisesNothing) {
    EXPECT_EQ(JoinPath("/games/q3", "baseq3", '/'), "/games/q3/baseq3");
    EXPECT_EQ(JoinPath("/games/q3/", "baseq3", '/'), "/games/q3//baseq3");
    EXPECT_EQ(JoinPath("C:\\Quake III Arena\\", "quake3.exe", '\\'),
              "C:\\Quake III Arena\\\\quake3.exe");
    EXPECT_EQ(JoinPath("", "demos", '/'), "/demos");
    EXPECT_EQ(JoinPath("dir", "", '/'), "dir/");
    EXPECT_EQ(JoinPath("q3/", "baseq3", "pak0.pk3", '/'), "q3//baseq3/pak0.pk3");
}

} // namespace
} // namespace vexo
