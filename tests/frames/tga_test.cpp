// Reading game screenshots: the three depths, run-length data, and every way a file can be
// unusable (missing, short, cut off, absurd sizes).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "frames/tga.h"
#include "support/temp_dir.h"

namespace vexo {
namespace {

using Bytes = std::vector<unsigned char>;

// A TGA file: type, width, height, depth, descriptor, then the ID and the data; padded with
// 0xEE up to 30 bytes when asked.
std::string Tga(int type, int w, int h, int depth, const Bytes& data, const std::string& id = "",
                bool pad = true, int descriptor = 0) {
    std::string f(18, '\0');
    f[0] = static_cast<char>(id.size());
    f[2] = static_cast<char>(type);
    f[12] = static_cast<char>(w & 0xFF), f[13] = static_cast<char>(w >> 8);
    f[14] = static_cast<char>(h & 0xFF), f[15] = static_cast<char>(h >> 8);
    f[16] = static_cast<char>(depth);
    f[17] = static_cast<char>(descriptor);
    f += id;
    f.append(data.begin(), data.end());
    if (pad && f.size() < 30)
        f.resize(30, '\xEE');
    return f;
}

struct Loaded {
    int32_t status = -1;
    Bytes pixels;
    int32_t bpp = 0, width = 0, height = 0;
};

Loaded Load(const std::string& contents) {
    test::TempDir dir;
    const std::string path = dir / "shot0000.tga";
    test::WriteFile(path, contents);
    Loaded r;
    TgaImage* image = LoadTga(path.c_str(), &r.status);
    EXPECT_EQ(image != nullptr, r.status == IMG_OK) << "status " << r.status;
    if (image) {
        EXPECT_EQ(image->DataSize, image->Width * image->Height * image->BytesPerPixel);
        r.pixels.assign(image->Pixels, image->Pixels + image->DataSize);
        r.bpp = image->BytesPerPixel, r.width = image->Width, r.height = image->Height;
    }
    FreeImage(image);
    return r;
}

TEST(TgaTest, DecodesEveryDepthRawAndRunLengthKeepingRowOrder) {
    const Bytes rows = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    const Bytes swapped = {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13, 18, 17, 16};
    struct Case {
        const char* name;
        std::string file;
        Bytes pixels;
        int bpp;
    } cases[] = {
        {"24-bit", Tga(2, 3, 2, 24, rows), swapped, 3},
        // The top-left origin bit flips nothing.
        {"24-bit top-left", Tga(2, 3, 2, 24, rows, "", true, 0x20), swapped, 3},
        {"32-bit",
         Tga(2, 2, 1, 32, {10, 20, 30, 40, 50, 60, 70, 80}),
         {30, 20, 10, 40, 70, 60, 50, 80},
         4},
        // White with the top bit, 0x8000, red / green, blue, 0x7FFF: shifted, not scaled.
        {"16-bit",
         Tga(2, 3, 2, 16, {0xFF, 0xFF, 0x00, 0x80, 0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xFF, 0x7F}),
         {248, 248, 248, 0, 0, 0, 248, 0, 0, 0, 248, 0, 0, 0, 248, 248, 248, 248},
         3},
        {"ID skipped", Tga(2, 1, 1, 24, {10, 20, 30}, "IDIDI"), {30, 20, 10}, 3},
        // A run of four crossing the row end, then two raw pixels.
        {"RLE 24",
         Tga(10, 3, 2, 24, {0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9}),
         {3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 6, 5, 4, 9, 8, 7},
         3},
        {"RLE 32",
         Tga(10, 3, 1, 32, {0x00, 1, 2, 3, 4, 0x81, 5, 6, 7, 8}),
         {3, 2, 1, 4, 7, 6, 5, 8, 7, 6, 5, 8},
         4},
        {"RLE 16",
         Tga(10, 3, 1, 16, {0x81, 0x00, 0x7C, 0x00, 0x1F, 0x00}),
         {248, 0, 0, 248, 0, 0, 0, 0, 248},
         3},
    };
    for (const Case& c : cases) {
        Loaded r = Load(c.file);
        EXPECT_EQ(r.pixels, c.pixels) << c.name;
        EXPECT_EQ(r.bpp, c.bpp) << c.name;
    }
}

TEST(TgaTest, UnusableFilesFailWithTheirCodes) {
    int32_t status = -1;
    EXPECT_EQ(LoadTga("/nonexistent/shot.tga", &status), nullptr);
    EXPECT_EQ(status, IMG_OPEN_READ);

    const std::string thirty = Tga(2, 1, 1, 24, Bytes(12, 7), "", false);
    ASSERT_EQ(thirty.size(), 30u);
    EXPECT_EQ(Load(thirty).status, IMG_OK);
    const std::string full = Tga(2, 4, 4, 24, Bytes(48, 9));
    struct Case {
        const char* name;
        std::string file;
        int32_t code;
    } cases[] = {
        {"29 bytes", thirty.substr(0, 29), IMG_SIGNATURE},
        {"depth 8", Tga(2, 1, 1, 8, {}), IMG_DEPTH},
        {"width 0", Tga(2, 0, 5, 24, {}), IMG_SIGNATURE},
        // Sizes the 32-bit DataSize cannot hold are refused before any allocation.
        {"65535^2 x 4", Tga(2, 65535, 65535, 32, {}), IMG_MEMORY},
        {"RLE 65535^2 x 3", Tga(10, 65535, 65535, 24, {}), IMG_MEMORY},
        // Within the limit but without the data behind it: an unfinished file.
        {"65535 x 8191 x 4", Tga(2, 65535, 8191, 32, {}), IMG_EOF},
        {"one byte short", full.substr(0, full.size() - 1), IMG_EOF},
        {"16-bit one byte short", Tga(2, 4, 4, 16, Bytes(31, 1)), IMG_EOF},
        {"ID eats the data", Tga(2, 4, 4, 24, Bytes(46, 9), "abc"), IMG_EOF},
        {"RLE run past the image", Tga(10, 2, 1, 24, {0x82, 1, 2, 3}), IMG_EOF},
        {"RLE raw past the image", Tga(10, 1, 1, 24, {0x01, 1, 2, 3, 4, 5, 6}), IMG_EOF},
        {"RLE ends inside a packet", Tga(10, 10, 1, 24, {0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}),
         IMG_EOF},
        {"RLE ends between packets", Tga(10, 3, 2, 24, {0x82, 1, 2, 3}, "12345678"), IMG_EOF},
        {"RLE absurd for its size", Tga(10, 4000, 4000, 24, {0xFF, 1, 2, 3}), IMG_EOF},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Load(c.file).status, c.code) << c.name;
    // Trailing bytes (a footer) are fine.
    EXPECT_EQ(Load(full + std::string(26, 'x')).status, IMG_OK);
}

TEST(TgaTest, CopiesAreIndependentAndStatusTextsComplete) {
    EXPECT_EQ(CopyImage(nullptr), nullptr);
    FreeImage(nullptr);
    unsigned char pixels[6] = {1, 2, 3, 4, 5, 6};
    TgaImage source{3, 2, 1, 6, pixels};
    TgaImage* copy = CopyImage(&source);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->Pixels, pixels);
    EXPECT_EQ(Bytes(copy->Pixels, copy->Pixels + 6), Bytes(pixels, pixels + 6));
    EXPECT_EQ(copy->Width * copy->Height * copy->BytesPerPixel, copy->DataSize);
    copy->Pixels[0] = 99;
    FreeImage(copy);
    EXPECT_EQ(pixels[0], 1);

    EXPECT_STREQ(ImageStatusText(IMG_EOF), "Unexpected EOF in image file.");
    EXPECT_STREQ(ImageStatusText(10), ImageStatusText(IMG_UNKNOWN)); // never past the table
}

// Everything a band reader gives for a file, band after band; empty when it refuses it.
struct Banded {
    bool opened = false;
    bool complete = false;
    Bytes pixels;
    int bands = 0;
};

Banded ReadBands(const std::string& contents, TgaBandReader& reader) {
    test::TempDir dir;
    const std::string path = dir / "shot0000.tga";
    test::WriteFile(path, contents);
    Banded r;
    r.opened = reader.Open(path.c_str());
    int32_t rows = 0;
    while (const unsigned char* band = reader.Next(&rows)) {
        r.pixels.insert(r.pixels.end(), band,
                        band + static_cast<size_t>(rows) * reader.Width * reader.BytesPerPixel);
        ++r.bands;
    }
    r.complete = reader.Complete();
    reader.Close();
    return r;
}

// The band reader takes the game's own screenshots (24 and 32 bits, uncompressed) and reads
// the same pixels as LoadTga, in the file's byte order; everything else it leaves to
// LoadTga.
TEST(TgaTest, BandReaderReadsWhatLoadTgaReadsAndLeavesTheRest) {
    TgaBandReader reader; // one reader for every file, as the collector keeps it
    for (int depth : {24, 32}) {
        const int bpp = depth / 8;
        // Rows of 900 bytes or more: several bands of about 256 KB.
        const int w = 300, h = 400;
        Bytes data(static_cast<size_t>(w) * h * bpp);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<unsigned char>(i * 7 + i / 1000);
        const std::string file = Tga(2, w, h, depth, data, "an id field");
        const Banded banded = ReadBands(file, reader);
        ASSERT_TRUE(banded.opened && banded.complete) << depth;
        EXPECT_GT(banded.bands, 1);
        EXPECT_EQ(banded.pixels, data) << depth;
        EXPECT_EQ(reader.Width, w);
        EXPECT_EQ(reader.Height, h);
        EXPECT_EQ(reader.BytesPerPixel, bpp);
        // LoadTga's pixels are the same with red and blue exchanged.
        const Loaded loaded = Load(file);
        ASSERT_EQ(loaded.status, IMG_OK);
        Bytes swapped = loaded.pixels;
        for (size_t i = 0; i + 2 < swapped.size(); i += bpp)
            std::swap(swapped[i], swapped[i + 2]);
        EXPECT_EQ(swapped, data) << depth;
    }

    const Bytes pixel = {1, 2, 3};
    const std::string good = Tga(2, 1, 1, 24, pixel);
    struct Case {
        const char* name;
        std::string file;
    };
    const Case refused[] = {
        {"run-length", Tga(10, 1, 1, 24, {0, 1, 2, 3})},
        {"16-bit", Tga(2, 1, 1, 16, {1, 2})},
        {"8-bit", Tga(2, 1, 1, 8, {1})},
        {"no width", Tga(2, 0, 1, 24, pixel)},
        {"pixels cut off", Tga(2, 4, 4, 24, Bytes(20, 1), "", false)},
        {"shorter than 30 bytes", Tga(2, 1, 1, 24, pixel, "", false)},
        {"empty", ""},
    };
    for (const Case& c : refused) {
        const Banded banded = ReadBands(c.file, reader);
        EXPECT_FALSE(banded.complete) << c.name;
        EXPECT_TRUE(banded.pixels.empty()) << c.name;
    }
    // Still fine for the next good file after all of those.
    EXPECT_EQ(ReadBands(good, reader).pixels, pixel);
}

} // namespace
} // namespace vexo
