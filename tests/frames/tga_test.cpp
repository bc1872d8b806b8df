// Reading game screenshots: the three depths, run-length data, and every way a file can be
// unusable (missing, short, cut off, absurd sizes).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "frames/tga.h"
#include "support/temp_dir.h"

namespace vexo {
namespace {

using test::TempDir;
using test::WriteFile;

using Bytes = std::vector<unsigned char>;

struct Header {
    int type = 2;
    int width = 1;
    int height = 1;
    int depth = 24;
    int idLength = 0;
    int descriptor = 0;
};

std::string Tga(const Header& h, const Bytes& data, const std::string& id = "") {
    std::string file(18, '\0');
    file[0] = static_cast<char>(h.idLength);
    file[2] = static_cast<char>(h.type);
    file[12] = static_cast<char>(h.width & 0xFF);
    file[13] = static_cast<char>(h.width >> 8);
    file[14] = static_cast<char>(h.height & 0xFF);
    file[15] = static_cast<char>(h.height >> 8);
    file[16] = static_cast<char>(h.depth);
    file[17] = static_cast<char>(h.descriptor);
    file += id;
    file.append(data.begin(), data.end());
    return file;
}

struct Freer {
    void operator()(TgaImage* image) const { FreeImage(image); }
};
using Image = std::unique_ptr<TgaImage, Freer>;

class TgaTest : public ::testing::Test {
protected:
    // Loads file contents; status is checked against 0 exactly when an image came back.
    Image Load(const std::string& contents, int32_t* status) {
        const std::string path = dir / "shot0000.tga";
        WriteFile(path, contents);
        Image image(LoadTga(path.c_str(), status));
        EXPECT_EQ(image != nullptr, *status == IMG_OK) << "status " << *status;
        return image;
    }
    int32_t Failure(const std::string& contents) {
        int32_t status = -1;
        Image image = Load(contents, &status);
        EXPECT_EQ(image, nullptr);
        return status;
    }
    Bytes PixelsOf(const Image& image) {
        return Bytes(image->Pixels, image->Pixels + image->DataSize);
    }

    TempDir dir;
};

// Pads small test files to the 30 bytes every readable file has at least.
Bytes Padded(Bytes data, size_t headerAndId = 18) {
    while (headerAndId + data.size() < 30)
        data.push_back(0xEE);
    return data;
}

TEST_F(TgaTest, TrueColourRowsKeepFileOrderWithRedAndBlueExchanged) {
    // Two rows of three pixels, blue-green-red in the file; the top-left origin bit must
    // not flip anything.
    Bytes data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    for (int descriptor : {0x00, 0x20}) {
        int32_t status = -1;
        Image image = Load(Tga({2, 3, 2, 24, 0, descriptor}, data), &status);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->BytesPerPixel, 3);
        EXPECT_EQ(image->Width, 3);
        EXPECT_EQ(image->Height, 2);
        EXPECT_EQ(image->DataSize, 18);
        EXPECT_EQ(PixelsOf(image),
                  (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13, 18, 17, 16}));
    }

    int32_t status = -1;
    Image rgba = Load(Tga({2, 2, 1, 32}, Padded({10, 20, 30, 40, 50, 60, 70, 80})), &status);
    ASSERT_TRUE(rgba);
    EXPECT_EQ(rgba->BytesPerPixel, 4);
    EXPECT_EQ(rgba->DataSize, 8);
    EXPECT_EQ(PixelsOf(rgba), (Bytes{30, 20, 10, 40, 70, 60, 50, 80}));
}

TEST_F(TgaTest, LargerOddSizedImageMatchesPixelByPixelDecoding) {
    const int w = 317, h = 43;
    Bytes data(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 7 + i / 911);
    int32_t status = -1;
    Image image = Load(Tga({2, w, h, 24}, data), &status);
    ASSERT_TRUE(image);
    for (size_t p = 0; p < data.size(); p += 3) {
        ASSERT_EQ(image->Pixels[p], data[p + 2]) << p;
        ASSERT_EQ(image->Pixels[p + 1], data[p + 1]) << p;
        ASSERT_EQ(image->Pixels[p + 2], data[p]) << p;
    }
}

TEST_F(TgaTest, SixteenBitChannelsAreShiftedNotScaled) {
    // Row 0: white (top bit set), 0x8000, pure red; row 1: pure green, pure blue, 0x7FFF.
    Bytes data = {0xFF, 0xFF, 0x00, 0x80, 0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xFF, 0x7F};
    int32_t status = -1;
    Image image = Load(Tga({2, 3, 2, 16}, data), &status);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->BytesPerPixel, 3);
    EXPECT_EQ(image->DataSize, 18);
    EXPECT_EQ(PixelsOf(image),
              (Bytes{248, 248, 248, 0, 0, 0, 248, 0, 0, 0, 248, 0, 0, 0, 248, 248, 248, 248}));
}

TEST_F(TgaTest, ImageIdIsSkipped) {
    // ID length 5: the pixel data starts at offset 23.
    int32_t status = -1;
    Image image = Load(Tga({2, 1, 1, 24, 5}, Padded({10, 20, 30}, 23), "IDIDI"), &status);
    ASSERT_TRUE(image);
    EXPECT_EQ(PixelsOf(image), (Bytes{30, 20, 10}));
}

TEST_F(TgaTest, HeaderFailuresGiveTheirCodes) {
    EXPECT_EQ(LoadTga((dir / "missing.tga").c_str(), nullptr), nullptr);
    int32_t status = -1;
    EXPECT_EQ(LoadTga((dir / "missing.tga").c_str(), &status), nullptr);
    EXPECT_EQ(status, IMG_OPEN_READ);
    // A directory cannot be read as an image either.
    EXPECT_EQ(LoadTga(dir.path().c_str(), &status), nullptr);
    EXPECT_NE(status, IMG_OK);

    const std::string thirty = Tga({2, 1, 1, 24}, Bytes(12, 7));
    ASSERT_EQ(thirty.size(), 30u);
    EXPECT_EQ(Failure(thirty.substr(0, 29)), IMG_SIGNATURE);
    Image ok = Load(thirty, &status);
    EXPECT_TRUE(ok);

    EXPECT_EQ(Failure(Tga({2, 1, 1, 8}, Padded({1, 2, 3}))), IMG_DEPTH);
    EXPECT_EQ(Failure(Tga({2, 1, 1, 15}, Padded({1, 2, 3}))), IMG_DEPTH);
    // No pixels at all cannot become a frame.
    EXPECT_EQ(Failure(Tga({2, 0, 5, 24}, Padded({}))), IMG_SIGNATURE);
    EXPECT_EQ(Failure(Tga({2, 5, 0, 24}, Padded({}))), IMG_SIGNATURE);
}

TEST_F(TgaTest, SizesBeyondTheDataSizeFieldAreRefusedWithoutAllocating) {
    // 65535 x 65535 x 4 bytes does not fit a 32-bit size; neither does 65535 x 8193 x 4.
    EXPECT_EQ(Failure(Tga({2, 65535, 65535, 32}, Padded({}))), IMG_MEMORY);
    EXPECT_EQ(Failure(Tga({2, 65535, 8193, 32}, Padded({}))), IMG_MEMORY);
    EXPECT_EQ(Failure(Tga({10, 65535, 65535, 24}, Padded({}))), IMG_MEMORY);
    // Just inside the limit but with no data behind it: an unfinished file, not memory.
    EXPECT_EQ(Failure(Tga({2, 65535, 8191, 32}, Padded({}))), IMG_EOF);
}

TEST_F(TgaTest, FilesShorterThanTheirHeaderAnnouncesFail) {
    Bytes full(4 * 4 * 3, 9);
    const std::string whole = Tga({2, 4, 4, 24}, full);
    EXPECT_EQ(Failure(whole.substr(0, whole.size() - 1)), IMG_EOF);
    EXPECT_EQ(Failure(whole.substr(0, whole.size() - 12)), IMG_EOF);
    EXPECT_EQ(Failure(Tga({2, 4, 4, 16}, Bytes(4 * 4 * 2 - 1, 1))), IMG_EOF);
    // The ID takes its bytes from the pixel data.
    EXPECT_EQ(Failure(Tga({2, 4, 4, 24, 3}, full, "abc").substr(0, whole.size() + 2)), IMG_EOF);
    // Trailing bytes (a footer) are fine.
    int32_t status = -1;
    Image image = Load(whole + std::string(26, 'x'), &status);
    EXPECT_TRUE(image);
}

TEST_F(TgaTest, RunLengthPacketsDecodeAcrossRows) {
    // 3 x 2 image: a run of four (crossing the row end), then two raw pixels.
    Bytes data = {0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9};
    int32_t status = -1;
    Image image = Load(Tga({10, 3, 2, 24}, Padded(data)), &status);
    ASSERT_TRUE(image);
    EXPECT_EQ(PixelsOf(image), (Bytes{3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 6, 5, 4, 9, 8, 7}));

    Image rgba = Load(Tga({10, 3, 1, 32}, Padded({0x00, 1, 2, 3, 4, 0x81, 5, 6, 7, 8})), &status);
    ASSERT_TRUE(rgba);
    EXPECT_EQ(PixelsOf(rgba), (Bytes{3, 2, 1, 4, 7, 6, 5, 8, 7, 6, 5, 8}));

    Image hi = Load(Tga({10, 3, 1, 16}, Padded({0x81, 0x00, 0x7C, 0x00, 0x1F, 0x00})), &status);
    ASSERT_TRUE(hi);
    EXPECT_EQ(PixelsOf(hi), (Bytes{248, 0, 0, 248, 0, 0, 0, 0, 248}));

    // A long run: one packet of 128 plus a packet of 72 fill a 200-pixel row.
    Image wide = Load(Tga({10, 200, 1, 24}, Padded({0xFF, 1, 1, 1, 0xC7, 2, 2, 2})), &status);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->Pixels[127 * 3], 1);
    EXPECT_EQ(wide->Pixels[128 * 3], 2);
    EXPECT_EQ(wide->Pixels[199 * 3], 2);
}

TEST_F(TgaTest, BrokenRunLengthDataFails) {
    // A run longer than the image.
    EXPECT_EQ(Failure(Tga({10, 2, 1, 24}, Padded({0x82, 1, 2, 3}))), IMG_EOF);
    // Raw packet longer than the image.
    EXPECT_EQ(Failure(Tga({10, 1, 1, 24}, Padded({0x01, 1, 2, 3, 4, 5, 6}))), IMG_EOF);
    // The file ends inside a raw packet (the packet would need 30 bytes).
    EXPECT_EQ(Failure(Tga({10, 10, 1, 24}, {0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11})), IMG_EOF);
    // The file ends after a whole packet, with 3 of 6 pixels given (an ID fills the file
    // up to its 30 bytes).
    EXPECT_EQ(Failure(Tga({10, 3, 2, 24, 8}, {0x82, 1, 2, 3}, "12345678")), IMG_EOF);
    // A header announcing far more pixels than any packet data could give.
    EXPECT_EQ(Failure(Tga({10, 4000, 4000, 24}, Padded({0xFF, 1, 2, 3}))), IMG_EOF);
}

TEST_F(TgaTest, CopiesAreIndependent) {
    EXPECT_EQ(CopyImage(nullptr), nullptr);
    FreeImage(nullptr);

    int32_t status = -1;
    Image source = Load(Tga({2, 2, 1, 32}, Padded({1, 2, 3, 4, 5, 6, 7, 8})), &status);
    ASSERT_TRUE(source);
    Image copy(CopyImage(source.get()));
    ASSERT_TRUE(copy);
    EXPECT_NE(copy->Pixels, source->Pixels);
    EXPECT_EQ(copy->BytesPerPixel, 4);
    EXPECT_EQ(copy->Width, 2);
    EXPECT_EQ(copy->Height, 1);
    EXPECT_EQ(copy->DataSize, 8);
    EXPECT_EQ(PixelsOf(copy), PixelsOf(source));
    copy->Pixels[0] = 99;
    copy.reset();
    EXPECT_EQ(PixelsOf(source), (Bytes{3, 2, 1, 4, 7, 6, 5, 8}));
}

TEST(ImageStatusTextTest, TenTextsByCode) {
    const char* expected[] = {
        "No error.",
        "Unknown error occured.",
        "Error opening image file for reading.",
        "Error opening image file for writing.",
        "Invalid image file signature.",
        "Out of memory while trying to load the image.",
        "Image uses an unsupported color depth.",
        "Image uses an unsupported compression method.",
        "Unexpected EOF in image file.",
        "Unexpected JPEG library exception.",
    };
    for (int32_t code = 0; code < 10; ++code)
        EXPECT_STREQ(ImageStatusText(code), expected[code]);
    // Codes outside the table do not read past it.
    EXPECT_STREQ(ImageStatusText(10), expected[1]);
    EXPECT_STREQ(ImageStatusText(-1), expected[1]);
}

} // namespace
} // namespace vexo
