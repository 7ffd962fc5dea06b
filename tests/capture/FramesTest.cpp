// Frame files, pixel conversions and replay camera declarations.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>
#include <linux/videodev2.h>

#include "platform/capture/FrameImage.h"
#include "platform/capture/ReplayCamera.h"
#include "platform/capture/V4l2Device.h"
#include "capture_fixtures.h"
#include "jpeg_frames.h"

using namespace tarvelo::capture;

TEST(Netpbm, ReadsGrayAndColourFilesWithCommentsAndWideSamples) {
    TempDir dir;
    writeFile(dir.path + "/g.pgm", std::string("P5\n# a comment\n3 2\n255\n") + std::string("\x00\x40\x80\xc0\xff\x10", 6));
    writeFile(dir.path + "/c.ppm", std::string("P6 1 1 255 ") + std::string("\x0a\x14\x1e", 3));
    writeFile(dir.path + "/w.pgm", std::string("P5 1 1 65535\n") + std::string("\xff\xff", 2));

    FrameImage img;
    ASSERT_TRUE(readNetpbm(dir.path + "/g.pgm", img));
    ASSERT_EQ(3, img.width);
    ASSERT_EQ(2, img.height);
    EXPECT_EQ(0x80, img.bgr[2 * 3 + 0]);
    EXPECT_EQ(0x80, img.bgr[2 * 3 + 2]);
    EXPECT_EQ(0x10, img.bgr[5 * 3 + 1]);

    ASSERT_TRUE(readNetpbm(dir.path + "/c.ppm", img));
    EXPECT_EQ(0x1e, img.bgr[0]);  // blue first
    EXPECT_EQ(0x14, img.bgr[1]);
    EXPECT_EQ(0x0a, img.bgr[2]);

    ASSERT_TRUE(readNetpbm(dir.path + "/w.pgm", img));
    EXPECT_EQ(255, img.bgr[0]);
}

TEST(Netpbm, RejectsDamagedFiles) {
    TempDir dir;
    const std::pair<const char*, std::string> cases[] = {
        {"truncated", std::string("P5 4 4 255\n") + std::string(15, '\x01')},
        {"ascii", "P2 1 1 255\n7\n"},
        {"zero size", "P5 0 4 255\n"},
        {"bad maxval", "P5 1 1 0\n\x01"},
        {"no header", "P5"},
        {"empty", ""},
    };
    for (const auto& c : cases) {
        writeFile(dir.path + "/f.pgm", c.second);
        FrameImage img;
        std::string why;
        EXPECT_FALSE(readNetpbm(dir.path + "/f.pgm", img, &why)) << c.first;
        EXPECT_FALSE(why.empty()) << c.first;
    }
    FrameImage img;
    EXPECT_FALSE(readNetpbm(dir.path + "/missing.pgm", img));
    // A folder named like a frame was once read as a stream that threw, ending the process.
    ASSERT_EQ(0, ::mkdir((dir.path + "/folder.pgm").c_str(), 0700));
    std::string why;
    EXPECT_FALSE(readNetpbm(dir.path + "/folder.pgm", img, &why));
    EXPECT_FALSE(why.empty());
}

TEST(ReplaySource, AFrameFileIsReadOnlyWithinItsTailLimit) {
    // Each frame file was read whole whatever its header said: a 1 GB tail cost 4 s and 1 GB a frame.
    TempDir dir;
    const std::string gray = "P5\n# four by two\n4 2\n255\n" + std::string(8, '\x40');
    const std::string wide = "P6 2 1 65535\n" + std::string(12, '\x7f');
    const struct Case {
        const char* what;
        std::string content;
        off_t sparseSize;  // > 0: the file is made this long, with a hole
        bool reads;
    } cases[] = {
        {"no tail", gray, 0, true},
        {"tail at the limit", gray + std::string(kMaxReplayFrameTail, '\n'), 0, true},
        {"tail one beyond", gray + std::string(kMaxReplayFrameTail + 1, '\n'), 0, false},
        {"16-bit colour, tail at the limit", wide + std::string(kMaxReplayFrameTail, '\0'), 0, true},
        {"16-bit colour, tail one beyond", wide + std::string(kMaxReplayFrameTail + 1, '\0'), 0, false},
        {"1 GiB tail", gray, off_t(1) << 30, false},
        {"no header in the first 4096 bytes", "P5\n#" + std::string(5000, 'x'), 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.path + "/f.pgm";
        writeFile(path, c.content);
        if (c.sparseSize > 0) ASSERT_EQ(0, ::truncate(path.c_str(), c.sparseSize));
        FrameImage img;
        std::string why;
        EXPECT_EQ(readNetpbm(path, img, &why), c.reads) << why;
        if (!c.reads) EXPECT_NE(why.find("4096"), std::string::npos) << why;
        if (c.reads) EXPECT_FALSE(img.empty());
    }
    // The replay camera reads its frames so: a folder whose only frame is over the limit offers no camera.
    writeFile(dir.path + "/f.pgm", gray + std::string(kMaxReplayFrameTail + 1, '\n'));
    ReplayDeclaration decl;
    decl.folder = dir.path;
    std::string why;
    EXPECT_EQ(ReplaySource::open(decl, &why), nullptr);
    EXPECT_NE(why.find("bytes beyond the header"), std::string::npos) << why;
}

TEST(ReplaySource, AFolderNamedLikeAFrameIsNoFrame) {
    TempDir dir;
    ASSERT_EQ(0, ::mkdir((dir.path + "/a.pgm").c_str(), 0700));
    writeGrayFrame(dir.path + "/b.pgm", 4, 2, 9);
    EXPECT_EQ(std::vector<std::string>{dir.path + "/b.pgm"}, listFrameFiles(dir.path));
    ReplayDeclaration decl;
    decl.folder = dir.path;
    std::string why;
    EXPECT_NE(nullptr, ReplaySource::open(decl, &why)) << why;
}

TEST(PixelConversion, YuyvVideoRangeToBgr) {
    // white, black, then a red pixel pair (Y 81, U 90, V 240 is BT.601 red)
    const uint8_t yuyv[] = {235, 128, 16, 128, 81, 90, 81, 240};
    FrameImage img;
    yuyvToBgr(yuyv, 4, 1, sizeof yuyv, img);
    ASSERT_EQ(4 * 3u, img.bgr.size());
    for (int c = 0; c < 3; ++c) EXPECT_EQ(255, img.bgr[c]);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(0, img.bgr[3 + c]);
    EXPECT_NEAR(255, img.bgr[6 + 2], 3);
    EXPECT_NEAR(0, img.bgr[6 + 1], 3);
    EXPECT_NEAR(0, img.bgr[6 + 0], 3);
}

namespace {

std::vector<uint8_t> encodeJpeg(const FrameImage& img) { return testutil::encodeJpeg(img.bgr.data(), img.width, img.height); }

}  // namespace

TEST(PixelConversion, MjpegFramesDecodeWithAndWithoutHuffmanTables) {
    FrameImage src;
    src.resize(32, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            uint8_t* p = &src.bgr[(y * 32 + x) * 3];
            p[0] = x < 16 ? 200 : 20;  // blue left half
            p[1] = 60;
            p[2] = x < 16 ? 20 : 220;  // red right half
        }
    std::vector<uint8_t> jpeg = encodeJpeg(src);
    std::vector<uint8_t> bare = testutil::stripHuffmanTables(jpeg);
    ASSERT_LT(bare.size(), jpeg.size());
    for (const auto* frame : {&jpeg, &bare}) {
        FrameImage out;
        std::string why;
        ASSERT_TRUE(mjpegToBgr(frame->data(), frame->size(), 32, 16, out, &why)) << why;
        ASSERT_EQ(32, out.width);
        ASSERT_EQ(16, out.height);
        const uint8_t* left = &out.bgr[(8 * 32 + 4) * 3];
        const uint8_t* right = &out.bgr[(8 * 32 + 28) * 3];
        EXPECT_NEAR(200, left[0], 12);
        EXPECT_NEAR(20, left[2], 12);
        EXPECT_NEAR(220, right[2], 12);
    }
    std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + jpeg.size() / 3);
    cut.push_back(0);
    FrameImage out;
    std::vector<uint8_t> junk = {0xFF, 0xD8, 0xFF, 0x00, 1, 2, 3};
    EXPECT_FALSE(mjpegToBgr(junk.data(), junk.size(), 32, 16, out));
    EXPECT_FALSE(mjpegToBgr(cut.data(), 3, 32, 16, out));
}

// The frame that once ended the program (a 12.9 GB allocation on the streaming thread) and its
// kin: each is refused from its header, nothing of its declared size is allocated, and the next
// good frame decodes. Under the sanitizers an allocation of the declared size would fail the test.
TEST(PixelConversion, MjpegFramesOfAnotherSizeThanTheStreamsAreRefusedFromTheirHeader) {
    const std::vector<uint8_t> huge = testutil::hugeDeclaredJpegFrame();
    int width = 0, height = 0;
    ASSERT_TRUE(jpegDeclaredSize(huge.data(), huge.size(), width, height));
    EXPECT_EQ(65500, width);
    EXPECT_EQ(65500, height);

    FrameImage src;
    src.resize(32, 16);
    std::vector<uint8_t> good = encodeJpeg(src);
    std::vector<uint8_t> larger = good, smaller = good;
    testutil::declareJpegSize(larger, 33, 16);
    testutil::declareJpegSize(smaller, 32, 8);
    struct Case {
        const char* what;
        const std::vector<uint8_t>* frame;
        int width, height;
        const char* reason;
    };
    const Case cases[] = {
        {"65500x65500 in a 320x240 stream", &huge, 320, 240, "the frame declares 65500x65500, the stream is 320x240"},
        {"one column more", &larger, 32, 16, "the frame declares 33x16"},
        {"half the rows", &smaller, 32, 16, "the frame declares 32x8"},
        {"a stream size past the limit", &huge, 65500, 65500, "cannot decode to 65500x65500"},
    };
    for (const Case& c : cases) {
        FrameImage out;
        std::string why;
        EXPECT_FALSE(mjpegToBgr(c.frame->data(), c.frame->size(), c.width, c.height, out, &why)) << c.what;
        EXPECT_EQ(0u, out.bgr.capacity()) << c.what;
        EXPECT_NE(std::string::npos, why.find(c.reason)) << c.what << ": " << why;
    }

    // Progressive frames are refused too: their scans make the decoding time unbounded.
    const std::vector<uint8_t> progressive = testutil::encodeJpeg(src.bgr.data(), 32, 16, 95, true);
    FrameImage out;
    std::string why;
    EXPECT_FALSE(mjpegToBgr(progressive.data(), progressive.size(), 32, 16, out, &why));
    EXPECT_EQ("progressive JPEG frame", why);

    EXPECT_TRUE(mjpegToBgr(good.data(), good.size(), 32, 16, out, &why)) << why;
}

TEST(PixelConversion, AWebcamFrameIsReadOnlyWithinWhatTheDeviceFilled) {
    // A 4x2 YUYV stream with rows padded to 12 bytes, and one MJPEG frame of the stream's size.
    std::vector<uint8_t> yuyv(12 * 2, 128);
    FrameImage src;
    src.resize(4, 2);
    const std::vector<uint8_t> jpeg = encodeJpeg(src);
    V4l2Format yuyvFormat, mjpegFormat;
    yuyvFormat.fourcc = V4L2_PIX_FMT_YUYV;
    mjpegFormat.fourcc = V4L2_PIX_FMT_MJPEG;
    yuyvFormat.width = mjpegFormat.width = 4;
    yuyvFormat.height = mjpegFormat.height = 2;
    const struct Case {
        const char* what;
        const V4l2Format* format;
        size_t bytesPerLine, used;
        const std::vector<uint8_t>* data;
        bool converts;
    } cases[] = {
        {"padded rows, all filled", &yuyvFormat, 12, 24, &yuyv, true},
        {"the last row cut short", &yuyvFormat, 12, 23, &yuyv, false},
        {"rows narrower than the width", &yuyvFormat, 6, 24, &yuyv, false},
        {"nothing filled", &yuyvFormat, 12, 0, &yuyv, false},
        {"a whole MJPEG frame", &mjpegFormat, 0, jpeg.size(), &jpeg, true},
        {"an MJPEG frame cut to its header", &mjpegFormat, 0, 20, &jpeg, false},
    };
    for (const Case& c : cases) {
        FrameImage out;
        std::string why;
        EXPECT_EQ(convertV4l2Frame(*c.format, c.bytesPerLine, c.data->data(), c.used, out, &why), c.converts)
            << c.what << ": " << why;
        if (c.converts) EXPECT_EQ(out.bgr.size(), 4u * 2 * 3) << c.what;
        if (!c.converts) EXPECT_FALSE(why.empty()) << c.what;
    }
}

TEST(PixelConversion, BitmapRowsFlipPadAndScale) {
    FrameImage src;
    src.resize(3, 2);
    for (size_t i = 0; i < src.bgr.size(); ++i) src.bgr[i] = static_cast<uint8_t>(i + 1);
    // 3 pixels of 24 bits: 9 bytes padded to 12
    ASSERT_EQ(12u, bitmapStride(3, 24));
    std::vector<uint8_t> bmp(24, 0xEE);
    writeBitmap(src, bmp.data(), 3, 2, 24, false);
    EXPECT_EQ(10, bmp[0]);   // bottom-up: the last row comes first
    EXPECT_EQ(0, bmp[9]);    // padding is cleared
    EXPECT_EQ(1, bmp[12]);
    writeBitmap(src, bmp.data(), 3, 2, 24, true);
    EXPECT_EQ(1, bmp[0]);

    std::vector<uint8_t> bmp32(3 * 4 * 2);
    writeBitmap(src, bmp32.data(), 3, 2, 32, true);
    EXPECT_EQ(4, bmp32[4]);
    EXPECT_EQ(0, bmp32[7]);

    std::vector<uint8_t> big(bitmapStride(6, 24) * 4);
    writeBitmap(src, big.data(), 6, 4, 24, true);
    EXPECT_EQ(1, big[0]);
    EXPECT_EQ(1, big[3]);  // doubled pixel
    EXPECT_EQ(10, big[3 * bitmapStride(6, 24)]);
}

TEST(ReplayDeclarations, ParsesNamesFoldersAndOptions) {
    std::vector<std::string> warnings;
    auto cams = parseReplayDeclarations(
        "# demo cameras\n"
        "Desk Cam | frames/a | rate=7.5 pins=preview sizes=320x240,640x480\n"
        "\n"
        "  Abs | /data/b  \n"
        "Flaky | c | fail=busy,bind,silent pins=capture,preview\n"
        "Broken line without folder\n"
        "Bad | d | rate=0\n"
        "Bad2 | d | pins=\n"
        "Bad3 | d | colour=blue\n"
        "Bad4 | d | sizes=10y10\n",
        "/decl", &warnings);
    ASSERT_EQ(3u, cams.size());
    EXPECT_EQ("Desk Cam", cams[0].name);
    EXPECT_EQ("/decl/frames/a", cams[0].folder);
    EXPECT_DOUBLE_EQ(7.5, cams[0].rate);
    EXPECT_EQ(std::vector<PinKind>{PinKind::Preview}, cams[0].pins);
    EXPECT_EQ((std::vector<std::pair<int, int>>{{320, 240}, {640, 480}}), cams[0].sizes);
    EXPECT_EQ("/data/b", cams[1].folder);
    EXPECT_DOUBLE_EQ(15.0, cams[1].rate);
    EXPECT_EQ((std::vector<PinKind>{PinKind::Capture, PinKind::Preview}), cams[1].pins);
    EXPECT_TRUE(cams[2].failBusy);
    EXPECT_TRUE(cams[2].failBind);
    EXPECT_TRUE(cams[2].failSilent);
    EXPECT_FALSE(cams[2].failName);
    EXPECT_EQ(5u, warnings.size());
    EXPECT_EQ(0u, warnings[0].find("6: "));
}

TEST(ReplayDeclarations, RatesFromATenthToAThousandFramesASecond) {
    // The interval in 100 ns units comes from the rate: a tiny rate would overflow it.
    struct Case {
        const char* rate;
        bool accepted;
    };
    for (const Case& c : {Case{"0.1", true}, Case{"1000", true}, Case{"0.09", false}, Case{"1e-300", false},
                          Case{"1000.5", false}, Case{"inf", false}, Case{"nan", false}, Case{"-5", false}}) {
        std::vector<std::string> warnings;
        auto cams = parseReplayDeclarations(std::string("Cam | d | rate=") + c.rate + "\n", "/x", &warnings);
        EXPECT_EQ(c.accepted ? 1u : 0u, cams.size()) << c.rate;
        EXPECT_EQ(c.accepted ? 0u : 1u, warnings.size()) << c.rate;
    }
}

TEST(ReplaySource, PlaysFramesInNameOrderInALoopAndWakesOnInterrupt) {
    TempDir dir;
    for (int i : {2, 0, 1}) writeGrayFrame(dir.path + "/f" + std::to_string(i) + ".pgm", 4, 2, static_cast<uint8_t>(10 * i));
    writeFile(dir.path + "/notes.txt", "not a frame");
    ReplayDeclaration decl;
    decl.name = "loop";
    decl.folder = dir.path;
    decl.rate = 200;
    decl.sizes = {{8, 4}, {4, 2}};
    auto src = ReplaySource::open(decl);
    ASSERT_TRUE(src);
    auto formats = src->formats();
    ASSERT_EQ(2u, formats.size());  // the frames' own size first, listed once
    EXPECT_EQ(4, formats[0].width);
    EXPECT_EQ(8, formats[1].width);
    EXPECT_EQ(50000, formats[0].frameInterval);
    ASSERT_EQ(0, src->start(formats[0]));
    std::vector<int> seen;
    while (seen.size() < 5) {
        FrameImage img;
        auto r = src->read(img, 1000);
        ASSERT_NE(FrameSource::Result::Error, r);
        if (r == FrameSource::Result::Frame) seen.push_back(img.bgr[0]);
    }
    EXPECT_EQ((std::vector<int>{0, 10, 20, 0, 10}), seen);

    // A slow camera: interrupt must end a read that would otherwise wait a minute.
    decl.rate = 1.0 / 60;
    auto slow = ReplaySource::open(decl);
    ASSERT_EQ(0, slow->start(slow->formats()[0]));
    FrameImage img;
    ASSERT_EQ(FrameSource::Result::Frame, slow->read(img, 1000));
    auto pending = std::async(std::launch::async, [&] { return slow->read(img, 60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    slow->interrupt();
    ASSERT_EQ(std::future_status::ready, pending.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(FrameSource::Result::Interrupted, pending.get());
    slow->stop();
}

TEST(ReplaySource, FolderWithoutFramesCannotOpenAndBusyFailsStart) {
    TempDir dir;
    ReplayDeclaration decl;
    decl.folder = dir.path;
    std::string why;
    EXPECT_FALSE(ReplaySource::open(decl, &why));
    EXPECT_NE(std::string::npos, why.find(dir.path));
    writeGrayFrame(dir.path + "/a.pgm", 2, 2, 1);
    decl.failBusy = true;
    auto src = ReplaySource::open(decl);
    ASSERT_TRUE(src);
    EXPECT_EQ(EBUSY, src->start(src->formats()[0]));

    // A silent camera starts and runs, but every read times out.
    decl.failBusy = false;
    decl.failSilent = true;
    decl.rate = 200;
    auto silent = ReplaySource::open(decl);
    ASSERT_TRUE(silent);
    ASSERT_EQ(0, silent->start(silent->formats()[0]));
    FrameImage img;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(FrameSource::Result::Timeout, silent->read(img, 30));
    silent->stop();

    // A lost camera goes away after 30 frames of each run, as an unplugged webcam does.
    decl.failSilent = false;
    decl.failLost = true;
    decl.rate = 1000;
    auto lost = ReplaySource::open(decl);
    ASSERT_TRUE(lost);
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(0, lost->start(lost->formats()[0]));
        int frames = 0;
        FrameSource::Result r;
        while ((r = lost->read(img, 1000)) != FrameSource::Result::Error) frames += r == FrameSource::Result::Frame;
        EXPECT_EQ(30, frames);
        lost->stop();
    }
}

TEST(V4l2Devices, NodesThatCannotCaptureAreLeftOut) {
    ::setenv("TARVELO_V4L2_DEVICES", "/dev/null:/nonexistent/video0::", 1);
    EXPECT_TRUE(listV4l2Devices().empty());
    EXPECT_TRUE(queryV4l2Formats("/dev/null").empty());
    V4l2Stream stream;
    V4l2Format f;
    f.fourcc = 0x56595559;  // YUYV
    f.width = 320;
    f.height = 240;
    EXPECT_NE(0, stream.start("/dev/null", f));
    EXPECT_FALSE(stream.active());
    EXPECT_EQ(ENOENT, stream.start("/nonexistent/video0", f));
    V4l2Source source("/dev/null");
    EXPECT_FALSE(source.usable());
    ::unsetenv("TARVELO_V4L2_DEVICES");
}

TEST(V4l2Devices, EachSizeOnceAtItsBestRateInTheDevicesOrder) {
    const uint32_t yuyv = 0x56595559, mjpg = 0x47504A4D;
    // As a webcam lists them: the current format first, then per encoding its sizes.
    const std::vector<V4l2Format> formats = {
        {mjpg, 1280, 720, 1, 30}, {yuyv, 640, 480, 1, 30}, {yuyv, 1280, 720, 1, 10},
        {yuyv, 320, 240, 1, 30},  {mjpg, 640, 480, 1, 30}, {mjpg, 320, 240, 1, 15},
    };
    const auto sizes = v4l2SourceFormats(formats);
    ASSERT_EQ(3u, sizes.size());
    EXPECT_EQ(1280, sizes[0].width);
    EXPECT_EQ(333333, sizes[0].frameInterval);  // MJPEG's 30 fps, not YUYV's 10
    EXPECT_EQ(640, sizes[1].width);
    EXPECT_EQ(320, sizes[2].width);
    struct Case {
        int w, h;
        uint32_t fourcc;
    };
    for (const Case& c : {Case{1280, 720, mjpg}, Case{640, 480, yuyv}, Case{320, 240, yuyv}}) {
        const V4l2Format* f = chooseV4l2Format(formats, c.w, c.h);
        ASSERT_TRUE(f);
        EXPECT_EQ(c.fourcc, f->fourcc) << c.w << "x" << c.h;
    }
    EXPECT_EQ(nullptr, chooseV4l2Format(formats, 800, 600));
}
