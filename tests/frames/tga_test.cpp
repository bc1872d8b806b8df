#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frames/tga.h"
#include "support/temp_dir.h"

namespace vexo {
namespace {

using Bytes = std::vector<unsigned char>;

struct Header {
    Header(unsigned char type, unsigned width, unsigned height, unsigned char depth,
           unsigned char descriptor = 0)
        : type(type), width(width), height(height), depth(depth), descriptor(descriptor) {}
    unsigned char type;
    unsigned width;
    unsigned height;
    unsigned char depth;
    unsigned char descriptor;
    std::string id;
};

// A TGA file: 18-byte header, image ID, then the data as given.
std::string MakeTga(const Header& h, const Bytes& data) {
    std::string file(18, '\0');
    file[0] = static_cast<char>(h.id.size());
    file[2] = static_cast<char>(h.type);
    file[12] = static_cast<char>(h.width & 0xFF);
    file[13] = static_cast<char>(h.width >> 8);
    file[14] = static_cast<char>(h.height & 0xFF);
    file[15] = static_cast<char>(h.height >> 8);
    file[16] = static_cast<char>(h.depth);
    file[17] = static_cast<char>(h.descriptor);
    file += h.id;
    file.append(data.begin(), data.end());
    return file;
}

// Little-endian 16-bit pixels.
Bytes Pixels16(const std::vector<unsigned>& values) {
    Bytes out;
    for (unsigned v : values) {
        out.push_back(static_cast<unsigned char>(v & 0xFF));
        out.push_back(static_cast<unsigned char>(v >> 8));
    }
    return out;
}

class TgaTest : public ::testing::Test {
protected:
    // Loads the file content; the image is freed when the test ends.
    TgaImage* Load(const std::string& content) {
        const std::string path = dir / ("image" + std::to_string(count++) + ".tga");
        test::WriteFile(path, content);
        status = -1;
        TgaImage* image = LoadTga(path.c_str(), &status);
        EXPECT_EQ(image != nullptr, status == IMG_OK) << "status " << status;
        if (image)
            images.push_back(image);
        return image;
    }
    Bytes PixelsOf(const TgaImage* image) {
        return Bytes(image->Pixels, image->Pixels + image->DataSize);
    }
    ~TgaTest() override {
        for (TgaImage* image : images)
            FreeImage(image);
    }

    test::TempDir dir;
    int count = 0;
    int32_t status = -1;
    std::vector<TgaImage*> images;
};

TEST_F(TgaTest, FileSizeAndHeaderChecks) {
    // 4 x 1 pixels of 24 bits: exactly 30 bytes is enough, one byte less is not.
    Bytes row(12, 7);
    const std::string thirty = MakeTga({2, 4, 1, 24}, row);
    ASSERT_EQ(thirty.size(), 30u);
    EXPECT_NE(Load(thirty), nullptr);
    EXPECT_EQ(Load(thirty.substr(0, 29)), nullptr);
    EXPECT_EQ(status, IMG_SIGNATURE);

    status = -1;
    EXPECT_EQ(LoadTga((dir / "missing.tga").c_str(), &status), nullptr);
    EXPECT_EQ(status, IMG_OPEN_READ);

    for (unsigned char depth : {8, 15, 0, 33}) {
        EXPECT_EQ(Load(MakeTga({2, 4, 4, depth}, Bytes(64, 0))), nullptr);
        EXPECT_EQ(status, IMG_DEPTH) << int(depth);
    }
    // An image without pixels is refused as a damaged header.
    EXPECT_EQ(Load(MakeTga({2, 0, 10, 24}, Bytes(40, 0))), nullptr);
    EXPECT_EQ(status, IMG_SIGNATURE);
    EXPECT_EQ(Load(MakeTga({2, 10, 0, 32}, Bytes(40, 0))), nullptr);
    EXPECT_EQ(status, IMG_SIGNATURE);
}

TEST_F(TgaTest, SizesBeyondTheSizeFieldAreRefusedWithoutAllocating) {
    // 65535 x 65535 x 4 and x 3 do not fit a 32-bit DataSize.
    EXPECT_EQ(Load(MakeTga({2, 65535, 65535, 32}, Bytes(20, 0))), nullptr);
    EXPECT_EQ(status, IMG_MEMORY);
    EXPECT_EQ(Load(MakeTga({10, 65535, 65535, 24}, Bytes(20, 0))), nullptr);
    EXPECT_EQ(status, IMG_MEMORY);
    // Fits the field but the file cannot hold it: unfinished, not out of memory.
    EXPECT_EQ(Load(MakeTga({2, 20000, 20000, 32}, Bytes(20, 0))), nullptr);
    EXPECT_EQ(status, IMG_EOF);
}

TEST_F(TgaTest, TrueColourRowsKeepFileOrderWithRedAndBlueExchanged) {
    // 2 x 2, first pixel 10, 20, 30; rows stay in file order whatever the origin bit says.
    const Bytes data = {10, 20, 30, 1, 2, 3, //
                        40, 50, 60, 4, 5, 6, 0, 0, 0, 0, 0, 0};
    for (unsigned char descriptor : {0x00, 0x20}) {
        TgaImage* image = Load(MakeTga({2, 2, 2, 24, descriptor}, data));
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->BytesPerPixel, 3);
        EXPECT_EQ(image->Width, 2);
        EXPECT_EQ(image->Height, 2);
        EXPECT_EQ(image->DataSize, 12);
        EXPECT_EQ(PixelsOf(image), (Bytes{30, 20, 10, 3, 2, 1, 60, 50, 40, 6, 5, 4}));
    }
    // 32 bits: alpha stays where it is.
    Bytes data32 = {10, 20, 30, 40, 50, 60, 70, 80};
    data32.resize(40, 9);
    TgaImage* image = Load(MakeTga({2, 2, 1, 32}, data32));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->BytesPerPixel, 4);
    EXPECT_EQ(image->DataSize, 8);
    EXPECT_EQ(PixelsOf(image), (Bytes{30, 20, 10, 40, 70, 60, 50, 80}));
}

TEST_F(TgaTest, SixteenBitPixelsAreShiftedNotScaled) {
    const std::vector<unsigned> values = {0x7FFF, 0x8000, 0x7C00, 0x03E0,
                                          0x001F, 0xFFFF, 0x0421, 0x1234};
    TgaImage* image = Load(MakeTga({2, 4, 2, 16}, Pixels16(values)));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->BytesPerPixel, 3);
    EXPECT_EQ(image->DataSize, 24);
    const Bytes expected = {248, 248, 248, 0, 0, 0, 248, 0, 0, 0, 248, 0, //
                            0, 0, 248, 248, 248, 248, 8, 8, 8,
                            // 0x1234: red 4, green 17, blue 20
                            32, 136, 160};
    EXPECT_EQ(PixelsOf(image), expected);
}

TEST_F(TgaTest, ImageIdIsSkipped) {
    Header h{2, 4, 1, 24};
    h.id = "ABCDE"; // pixel data then starts at offset 23
    Bytes row = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    TgaImage* image = Load(MakeTga(h, row));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(PixelsOf(image), (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}));
}

TEST_F(TgaTest, FilesShorterThanTheirHeaderAnnouncesFail) {
    Bytes full(10 * 10 * 3, 5);
    const std::string whole = MakeTga({2, 10, 10, 24}, full);
    ASSERT_NE(Load(whole), nullptr);
    EXPECT_EQ(Load(whole.substr(0, whole.size() - 1)), nullptr);
    EXPECT_EQ(status, IMG_EOF);

    const std::string whole16 = MakeTga({2, 8, 8, 16}, Bytes(8 * 8 * 2, 1));
    ASSERT_NE(Load(whole16), nullptr);
    EXPECT_EQ(Load(whole16.substr(0, whole16.size() - 1)), nullptr);
    EXPECT_EQ(status, IMG_EOF);

    // The ID alone runs past the end of the file.
    Header h{2, 4, 1, 24};
    h.id = std::string(200, 'x');
    EXPECT_EQ(Load(MakeTga(h, {}).substr(0, 100)), nullptr);
    EXPECT_EQ(status, IMG_EOF);
}

TEST_F(TgaTest, RunLengthEncodedImagesAreDecoded) {
    // 3 x 2 pixels: a run of 4 (crossing the row end), then 2 raw pixels.
    const Bytes data = {0x83, 1,  2,  3, //
                        0x01, 10, 20, 30, 40, 50, 60};
    Bytes padded = data;
    padded.resize(20, 0); // trailing bytes (a footer) are ignored
    TgaImage* image = Load(MakeTga({10, 3, 2, 24}, padded));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(PixelsOf(image), (Bytes{3, 2, 1, 3, 2, 1, 3, 2, 1, //
                                      3, 2, 1, 30, 20, 10, 60, 50, 40}));

    // 32 bits keeps alpha; 16 bits converts like uncompressed data.
    Bytes data32 = {0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x80, 13, 14, 15, 16};
    TgaImage* image32 = Load(MakeTga({10, 2, 2, 32}, data32));
    ASSERT_NE(image32, nullptr);
    EXPECT_EQ(PixelsOf(image32), (Bytes{3, 2, 1, 4, 7, 6, 5, 8, 11, 10, 9, 12, 15, 14, 13, 16}));

    Bytes data16 = {0x81, 0xFF, 0x7F, 0x01};
    const Bytes raw = Pixels16({0x001F, 0x7C00});
    data16.insert(data16.end(), raw.begin(), raw.end());
    data16.resize(20, 0);
    TgaImage* image16 = Load(MakeTga({10, 2, 2, 16}, data16));
    ASSERT_NE(image16, nullptr);
    EXPECT_EQ(PixelsOf(image16), (Bytes{248, 248, 248, 248, 248, 248, 0, 0, 248, 248, 0, 0}));
}

TEST_F(TgaTest, DamagedRunLengthDataFails) {
    // A run of 8 pixels in a 2 x 2 image.
    Bytes past = {0x87, 1, 2, 3};
    past.resize(20, 0);
    EXPECT_EQ(Load(MakeTga({10, 2, 2, 24}, past)), nullptr);
    EXPECT_EQ(status, IMG_EOF);
    // A raw packet of 4 pixels whose data ends early, then the file ends.
    const Bytes cut = {0x03, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    EXPECT_EQ(Load(MakeTga({10, 2, 2, 24}, cut)), nullptr);
    EXPECT_EQ(status, IMG_EOF);
    // Packets that stop before the image is complete.
    // (The last run has no pixel.)
    const Bytes few = {0x80, 1, 2, 3, 0x80, 4, 5, 6, 0x80, 7, 8, 9, 0x80};
    EXPECT_EQ(Load(MakeTga({10, 8, 8, 24}, few)), nullptr);
    EXPECT_EQ(status, IMG_EOF);
}

TEST_F(TgaTest, CopiesAreIndependent) {
    EXPECT_EQ(CopyImage(nullptr), nullptr);
    FreeImage(nullptr);

    Bytes data(4 * 3 * 3);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i);
    TgaImage* image = Load(MakeTga({2, 4, 3, 24}, data));
    ASSERT_NE(image, nullptr);
    const Bytes before = PixelsOf(image);
    TgaImage* copy = CopyImage(image);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->Pixels, image->Pixels);
    EXPECT_EQ(copy->BytesPerPixel, 3);
    EXPECT_EQ(copy->Width, 4);
    EXPECT_EQ(copy->Height, 3);
    EXPECT_EQ(copy->DataSize, 36);
    EXPECT_EQ(PixelsOf(copy), before);
    std::memset(copy->Pixels, 0xEE, copy->DataSize);
    FreeImage(copy);
    EXPECT_EQ(PixelsOf(image), before);
}

TEST(ImageStatusTextTest, TenTextsAndAFallback) {
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
    for (int code = 0; code < 10; ++code)
        EXPECT_STREQ(ImageStatusText(code), expected[code]);
    EXPECT_STREQ(ImageStatusText(10), "Unknown error occured.");
    EXPECT_STREQ(ImageStatusText(-1), "Unknown error occured.");
}

} // namespace
} // namespace vexo
