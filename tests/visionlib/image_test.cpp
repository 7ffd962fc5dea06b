// Images, PGM files, colours and line drawing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/visionlib/fatal.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Image.h"
#include "visionlib/MemoryXFile.h"

using namespace vision;

namespace {

// A memory file holding exactly these bytes, positioned at the start.
struct BytesFile {
    MemoryXFile file;
    explicit BytesFile(const std::string& bytes) {
        if (!bytes.empty()) file.write(bytes.data(), 1, (int)bytes.size());
        file.rewind();
    }
};

std::string pixels(int n, int first = 0) {
    std::string s;
    for (int i = 0; i < n; i++) s += (char)((first + i) & 0xff);
    return s;
}

}  // namespace

TEST(PgmTest, WrittenImageReadsBackToTheSameBytesAndReals) {
    ImageGray img(5, 3);
    for (int i = 0; i < 15; i++) img.real_pixels[i] = (real)(i * 17 % 256);
    img.updateBytes();
    MemoryXFile file;
    img.saveXFile(&file);
    file.rewind();
    char line[200];
    ASSERT_NE(file.gets(line, sizeof(line)), nullptr);
    EXPECT_STREQ(line, "P5\n");

    file.rewind();
    ImageGray back;
    std::string why;
    ASSERT_TRUE(back.readPgm(&file, &why)) << why;
    ASSERT_EQ(back.width, 5);
    ASSERT_EQ(back.height, 3);
    for (int i = 0; i < 15; i++) {
        EXPECT_EQ(back.byte_pixels[i], img.byte_pixels[i]);
        EXPECT_EQ(back.real_pixels[i], (real)img.byte_pixels[i]);
    }
}

TEST(PgmTest, HeaderTable) {
    struct Case {
        const char* name;
        std::string bytes;
        bool ok;
        const char* why;
    };
    const std::string px6 = pixels(6, 10);
    const Case cases[] = {
        {"plain", "P5\n3 2\n255\n" + px6, true, ""},
        {"comments and empty lines skipped", "P5\n# a\n\n#b\n\n3 2\n255\n" + px6, true, ""},
        {"extra pixel bytes ignored", "P5\n3 2\n255\n" + px6 + "xyz", true, ""},
        {"empty file", "", false, "ImageGray::loadXFile() not enable to read pgm file\n"},
        {"header on one line", "P5 3 2 255\n" + px6, false, "ImageGray::loadXFile() incorrect magic number\n"},
        {"carriage return", "P5\r\n3 2\n255\n" + px6, false, "ImageGray::loadXFile() incorrect magic number\n"},
        {"ascii pgm", "P2\n3 2\n255\n1 2 3 4 5 6\n", false, "ImageGray::loadXFile() incorrect magic number\n"},
        {"only comments", "P5\n# a\n# b\n", false, "ImageGray::loadXFile() not enable to read pgm file\n"},
        {"width missing", "P5\nx\n255\n" + px6, false, "ImageGray::loadXFile() incorrect width in pgm file\n"},
        {"zero width", "P5\n0 2\n255\n" + px6, false, "ImageGray::loadXFile() incorrect width in pgm file\n"},
        {"height missing", "P5\n3\n255\n" + px6, false, "ImageGray::loadXFile() incorrect height in pgm file\n"},
        {"height on the next line", "P5\n3\n2\n255\n" + px6, false,
         "ImageGray::loadXFile() incorrect height in pgm file\n"},
        {"negative height", "P5\n3 -2\n255\n" + px6, false, "ImageGray::loadXFile() incorrect height in pgm file\n"},
        {"size overflowing int", "P5\n99999999999 2\n255\n" + px6, false,
         "ImageGray::loadXFile() incorrect width in pgm file\n"},
        {"product too large", "P5\n65536 65536\n255\n" + px6, false,
         "ImageGray::loadXFile() image too large in pgm file\n"},
        {"maxval 65535", "P5\n3 2\n65535\n" + px6, false,
         "ImageGray::loadXFile() incorrect resolution, only 255 is supported\n"},
        {"comment before maxval", "P5\n3 2\n# c\n255\n" + px6, false,
         "ImageGray::loadXFile() incorrect resolution, only 255 is supported\n"},
        {"no maxval", "P5\n3 2\n", false, "ImageGray::loadXFile() not enable to read pgm file\n"},
        {"short pixel block", "P5\n3 2\n255\n" + pixels(4), false,
         "ImageGray::loadXFile() impossible to read the image (4 bytes read != 6 bytes expected)\n"},
        {"no pixels", "P5\n3 2\n255\n", false,
         "ImageGray::loadXFile() impossible to read the image (0 bytes read != 6 bytes expected)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BytesFile f(c.bytes);
        ImageGray img(2, 2);
        img.real_pixels[0] = 42;
        img.updateBytes();
        std::string why;
        const bool ok = img.readPgm(&f.file, &why);
        ASSERT_EQ(ok, c.ok) << why;
        if (ok) {
            EXPECT_EQ(img.width, 3);
            EXPECT_EQ(img.height, 2);
            for (int i = 0; i < 6; i++) EXPECT_EQ(img.real_pixels[i], (real)(10 + i));
        } else {
            EXPECT_EQ(why, c.why);
            // A failed read leaves the image as it was.
            EXPECT_EQ(img.width, 2);
            EXPECT_EQ(img.height, 2);
            EXPECT_EQ(img.real_pixels[0], 42);
        }
    }
}

TEST(PgmTest, BadFileIsFatalThroughLoadXFile) {
    BytesFile f("P5\n3 2\n255\n" + pixels(4));
    ImageGray img;
    EXPECT_FATAL(img.loadXFile(&f.file),
                 "ImageGray::loadXFile() impossible to read the image (4 bytes read != 6 bytes expected)\n");
}

TEST(PgmTest, FileOnDiskLoadsFatallyOrNot) {
    char dir[] = "/tmp/pgmtestXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string good = std::string(dir) + "/good.pgm";
    const std::string cut = std::string(dir) + "/cut.pgm";
    {
        ImageGray img(4, 4);
        img.drawLine(0, 0, 3, 3, Color((unsigned char)200));
        img.save(good.c_str());
    }
    FILE* f = fopen(cut.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("P5\n4 4\n255\nabc", f);
    fclose(f);

    ImageGray loaded(good.c_str());
    EXPECT_EQ(loaded.width, 4);
    EXPECT_EQ(loaded.real_pixels[5], 200);
    EXPECT_EQ(loaded.real_pixels[1], 0);

    ImageGray img;
    std::string why;
    EXPECT_TRUE(img.tryLoad(good.c_str(), &why)) << why;
    EXPECT_FALSE(img.tryLoad(cut.c_str(), &why));
    EXPECT_NE(why.find("3 bytes read != 16 bytes expected"), std::string::npos) << why;
    EXPECT_FALSE(img.tryLoad((std::string(dir) + "/missing.pgm").c_str(), &why));
    EXPECT_EQ(img.width, 4);  // still the good image

    EXPECT_FATAL(ImageGray bad(cut.c_str()),
                 "ImageGray::loadXFile() impossible to read the image (3 bytes read != 16 bytes expected)\n");
    remove(good.c_str());
    remove(cut.c_str());
    rmdir(dir);
}

TEST(PgmTest, BuffersGrowAndAreReusedWhenSmaller) {
    ImageGray img;
    BytesFile big("P5\n4 3\n255\n" + pixels(12, 1));
    ASSERT_TRUE(img.readPgm(&big.file));
    EXPECT_EQ(img.pixel_capacity, 12);
    BytesFile small("P5\n2 2\n255\n" + pixels(4, 100));
    ASSERT_TRUE(img.readPgm(&small.file));
    EXPECT_EQ(img.pixel_capacity, 12);
    EXPECT_EQ(img.n_pixels, 4);
    EXPECT_EQ(img.frame_size, 4);
    EXPECT_EQ(img.real_pixels[3], 103);
    BytesFile bigger("P5\n5 5\n255\n" + pixels(25, 0));
    ASSERT_TRUE(img.readPgm(&bigger.file));
    EXPECT_EQ(img.pixel_capacity, 25);
    EXPECT_EQ(img.real_pixels[24], 24);
    EXPECT_EQ(img.frames[0], img.real_pixels);
}

TEST(ImageTest, UpdateBytesClampsAndRounds) {
    const real in[] = {-0.7f, 127.49f, 127.5f, 300, 254.5f, -3, NAN, 0.49f};
    const unsigned char want[] = {0, 127, 128, 255, 255, 0, 0, 0};
    ImageGray img(8, 1);
    for (int i = 0; i < 8; i++) img.real_pixels[i] = in[i];
    img.updateBytes();
    for (int i = 0; i < 8; i++) EXPECT_EQ(img.byte_pixels[i], want[i]) << "value " << in[i];
}

TEST(ImageTest, CopyFromConvertsCodings) {
    ImageGray img;
    const unsigned char rgb[] = {255, 255, 255, 255, 0, 0, 0, 0, 255};
    ASSERT_TRUE(img.copyFrom(3, 1, rgb, "rgb"));
    EXPECT_EQ(img.byte_pixels[0], 255);
    EXPECT_EQ(img.byte_pixels[1], 76);  // (77 x 255) >> 8
    EXPECT_EQ(img.byte_pixels[2], 28);  // (29 x 255) >> 8
    EXPECT_EQ(img.real_pixels[1], 76);

    // Real rgb values out of 0..max are clamped into the tables, not read past them.
    const real rgbf[] = {2, 2, 2, -1, 5, NAN, 1, 0, 0};
    ASSERT_TRUE(img.copyFrom(3, 1, rgbf, "rgb", 1));
    EXPECT_EQ(img.real_pixels[0], 255);
    EXPECT_EQ(img.real_pixels[1], (150 * 255) >> 8);
    EXPECT_EQ(img.real_pixels[2], 76);

    const real gray[] = {0.5f, 1};
    ASSERT_TRUE(img.copyFrom(2, 1, gray, "float", 1));
    EXPECT_FLOAT_EQ(img.real_pixels[0], 127.5f);
    EXPECT_EQ(img.byte_pixels[0], 128);

    const unsigned char yuv[] = {1, 2, 3};
    EXPECT_FALSE(img.copyFrom(1, 1, yuv, "yuv"));
    EXPECT_FALSE(img.copyFrom(1, 1, gray, "yuv", 255));
    EXPECT_FALSE(img.copyFrom(1, 1, yuv, "GRAY"));

    ImageGray src(2, 2);
    src.drawPixel(1, 1, Color((unsigned char)9));
    img.copyFrom(&src);
    EXPECT_EQ(img.width, 2);
    EXPECT_EQ(img.real_pixels[3], 9);
}

TEST(ImageTest, LinesFollowTheFixedPointAnalyser) {
    struct Case {
        int x1, y1, x2, y2;
        std::vector<std::pair<int, int>> pixels;
    };
    const Case cases[] = {
        {0, 0, 4, 2, {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}},
        {0, 0, 10, 3, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 2}, {7, 2}, {8, 2}, {9, 3}, {10, 3}}},
        {5, 5, 5, 5, {{5, 5}}},
        {3, 0, 0, 3, {{3, 0}, {2, 1}, {1, 2}, {0, 3}}},
        {1, 4, 1, 1, {{1, 4}, {1, 3}, {1, 2}, {1, 1}}},
        // Partly outside: only the visible part is drawn.
        {-2, 1, 2, 1, {{0, 1}, {1, 1}, {2, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x1 << "," << c.y1 << " -> " << c.x2 << "," << c.y2);
        ImageGray img(12, 6);
        img.drawLine(c.x1, c.y1, c.x2, c.y2, Color::white);
        int set = 0;
        for (int i = 0; i < 72; i++) set += img.byte_pixels[i] != 0;
        EXPECT_EQ(set, (int)c.pixels.size());
        for (auto& p : c.pixels) {
            EXPECT_EQ(img.byte_pixels[p.second * 12 + p.first], 255) << p.first << "," << p.second;
            EXPECT_EQ(img.real_pixels[p.second * 12 + p.first], 255);
        }
    }
    // Far-away ends cost nothing beyond the visible part.
    ImageGray wide(8, 3);
    wide.drawLine(-2000000000, 1, 2000000000, 1, Color::white);
    wide.drawLine(3e30f, 0.0f, -3e30f, 2.0f, Color::white);
    for (int x = 0; x < 8; x++) EXPECT_EQ(wide.byte_pixels[8 + x], 255);

    ImageGray img(4, 4);
    img.drawLine(1.9f, 0.2f, 1.9f, 2.9f, Color::white);  // truncated to (1, 0) - (1, 2)
    EXPECT_EQ(img.byte_pixels[0 * 4 + 1] + img.byte_pixels[1 * 4 + 1] + img.byte_pixels[2 * 4 + 1], 3 * 255);
    EXPECT_EQ(img.byte_pixels[3 * 4 + 1], 0);
}

TEST(ColorTest, NamesAreLookedUpExactly) {
    testing::internal::CaptureStdout();
    Color ghost("GhostWhite");
    Color lower("ghostwhite");
    Color gray("grey");
    Color last("LightGreen");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ghost.data0, 248);
    EXPECT_EQ(ghost.data1, 248);
    EXPECT_EQ(ghost.data2, 255);
    EXPECT_STREQ(ghost.coding, "rgb");
    EXPECT_EQ(lower.data0 + lower.data1 + lower.data2, 0);
    EXPECT_EQ(gray.data0, 190);
    EXPECT_EQ(last.data1, 238);
    EXPECT_NE(out.find("Checking color for GhostWhite : (248, 248, 255)\n"), std::string::npos);
    EXPECT_NE(out.find("Color ghostwhite not found. Black is set by default."), std::string::npos);
    EXPECT_STREQ(color_names[0].name, "snow");
    EXPECT_STREQ(color_names[n_color_names - 1].name, "LightGreen");
    EXPECT_EQ(Color::green.data1, 255);
    EXPECT_STREQ(Color((unsigned char)7).coding, "gray");
}
