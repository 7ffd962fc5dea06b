#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <vector>

#include "detect_helpers.h"
#include "visionlib/filter/FaceInfo.h"

using namespace vision;

namespace {

void fill(FaceInfo& f, int seed) {
    f.id = seed;
    f.left_eye_x = seed + 1;
    f.left_eye_y = -(seed + 2);
    f.right_eye_x = seed + 3;
    f.right_eye_y = seed + 4;
    f.bbx_x = seed + 5;
    f.bbx_y = seed + 6;
    f.bbx_width = seed + 7;
    f.bbx_height = seed + 8;
    f.angle = -22.5f + seed;
    f.inplane = seed % 2 == 0;
    f.outplane = seed % 3 == 0;
    f.score = 0.125f * seed - 3;
}

void expectSame(const FaceInfo& a, const FaceInfo& b) {
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.left_eye_x, b.left_eye_x);
    EXPECT_EQ(a.left_eye_y, b.left_eye_y);
    EXPECT_EQ(a.right_eye_x, b.right_eye_x);
    EXPECT_EQ(a.right_eye_y, b.right_eye_y);
    EXPECT_EQ(a.bbx_x, b.bbx_x);
    EXPECT_EQ(a.bbx_y, b.bbx_y);
    EXPECT_EQ(a.bbx_width, b.bbx_width);
    EXPECT_EQ(a.bbx_height, b.bbx_height);
    EXPECT_EQ(a.angle, b.angle);
    EXPECT_EQ(a.inplane, b.inplane);
    EXPECT_EQ(a.outplane, b.outplane);
    EXPECT_EQ(a.score, b.score);
}

struct FakePattern {
    int x, y, w, h;
    float confidence;
};

}  // namespace

TEST(FaceInfo, NewAndResetPrintTheUndefinedLine) {
    CapturedMessages out;
    FaceInfo f;
    f.print();
    fill(f, 4);
    f.reset();
    f.print();
    const std::string line =
        "Face (-1) BBX=(0;0) 0x0 \t Eyes: (-1;-1) (-1;-1) Undefined angle: 0  score: -3.40282e+38\n";
    EXPECT_EQ(out.printed, line + line);
    uint32_t bits;
    std::memcpy(&bits, &f.score, 4);
    EXPECT_EQ(bits, 0xFF7FFFFFu);
}

TEST(FaceInfo, PrintNamesThePlaneOfTheAngle) {
    struct Case {
        bool inplane, outplane;
        const char* word;
    } cases[] = {{true, true, "Inplane"}, {true, false, "Inplane"}, {false, true, "Outplane"}};
    for (const Case& c : cases) {
        CapturedMessages out;
        FaceInfo f;
        f.inplane = c.inplane;
        f.outplane = c.outplane;
        f.angle = 22.5f;
        f.print();
        EXPECT_NE(out.printed.find(std::string(c.word) + " angle: 22.5  score:"), std::string::npos) << out.printed;
    }
}

TEST(FaceInfo, EyesFromTheBox) {
    struct Case {
        int x, y, w, lx, rx, ey;
    } cases[] = {
        {0, 0, 19, 4, 15, 5},     // the single-precision factor rounds the left eye down
        {10, 20, 38, 19, 39, 30},
        {7, 9, 0, 7, 7, 9},       // width 0: both eyes on the corner
        {100, 50, 57, 113, 144, 65},
    };
    for (const Case& c : cases) {
        FaceInfo f;
        f.bbx_x = c.x;
        f.bbx_y = c.y;
        f.bbx_width = f.bbx_height = c.w;
        f.computeEyesFromBbx();
        EXPECT_EQ(f.left_eye_x, c.lx) << c.w;
        EXPECT_EQ(f.right_eye_x, c.rx) << c.w;
        EXPECT_EQ(f.left_eye_y, c.ey) << c.w;
        EXPECT_EQ(f.right_eye_y, c.ey) << c.w;
    }
}

TEST(FaceInfo, SetFromPatternTakesBoxScoreAndEyesOnly) {
    FaceInfo f;
    f.id = 3;
    f.angle = 45;
    f.inplane = true;
    FakePattern p{10, 20, 38, 38, 2.5f};
    f.setFromPattern(p);
    EXPECT_EQ(f.bbx_x, 10);
    EXPECT_EQ(f.bbx_y, 20);
    EXPECT_EQ(f.bbx_width, 38);
    EXPECT_EQ(f.score, 2.5f);
    EXPECT_EQ(f.left_eye_x, 19);
    EXPECT_EQ(f.right_eye_y, 30);
    EXPECT_EQ(f.id, 3);
    EXPECT_EQ(f.angle, 45);
    EXPECT_TRUE(f.inplane);
}

TEST(FaceInfo, PackWritesTheRecordLayout) {
    FaceInfo f;
    fill(f, 2);
    FaceInfo* list[] = {&f};
    unsigned char buf[196];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(packFaceInfo(1, list, buf, sizeof buf), 1u);
    int32_t v;
    std::memcpy(&v, buf, 4);
    EXPECT_EQ(v, 1);
    std::memcpy(&v, buf + 4 + 28, 4);
    EXPECT_EQ(v, f.bbx_width);
    float a;
    std::memcpy(&a, buf + 4 + 36, 4);
    EXPECT_EQ(a, f.angle);
    EXPECT_EQ(buf[4 + 40], 1);  // inplane
    EXPECT_EQ(buf[4 + 41], 0);  // outplane
    EXPECT_EQ(buf[4 + 42], 0);  // reserved bytes written as zero
    EXPECT_EQ(buf[4 + 43], 0);
    std::memcpy(&a, buf + 4 + 44, 4);
    EXPECT_EQ(a, f.score);
    EXPECT_EQ(buf[52], 0xEE);  // nothing behind the record
}

TEST(FaceInfo, PackCountsAndBounds) {
    FaceInfo faces[5];
    FaceInfo* list[5];
    for (int i = 0; i < 5; i++) {
        fill(faces[i], i);
        list[i] = &faces[i];
    }
    EXPECT_EQ(getFaceInfoSampleSize(0), 4);
    EXPECT_EQ(getFaceInfoSampleSize(3), 148);
    EXPECT_EQ(getFaceInfoSampleSize(4), 196);

    struct Case {
        unsigned count;
        size_t room;
        unsigned written;
    } cases[] = {{0, 196, 0}, {3, 196, 3}, {4, 196, 4}, {5, 196, 4}, {3, 100, 2}, {1, 3, 0}};
    for (const Case& c : cases) {
        std::vector<unsigned char> buf(c.room + 16, 0xEE);
        EXPECT_EQ(packFaceInfo(c.count, list, buf.data(), c.room), c.written) << c.count << " in " << c.room;
        const size_t used = c.room < 4 ? 0 : (size_t)getFaceInfoSampleSize(c.written);
        for (size_t i = used; i < buf.size(); i++) ASSERT_EQ(buf[i], 0xEE) << "byte " << i << " of case " << c.count;
        if (c.room >= 4) {
            int32_t n;
            std::memcpy(&n, buf.data(), 4);
            EXPECT_EQ(n, (int32_t)c.written);
        }
    }
}

TEST(FaceInfo, UnpackRoundTripIgnoresReservedBytesAndReadsAnyFlagByte) {
    FaceInfo a, b;
    fill(a, 1);
    fill(b, 6);
    FaceInfo* list[] = {&a, &b};
    unsigned char buf[196];
    std::memset(buf, 0x5A, sizeof buf);
    packFaceInfo(2, list, buf, sizeof buf);
    for (int r = 0; r < 2; r++) {
        buf[4 + 48 * r + 42] = 0xC3;  // reserved garbage
        buf[4 + 48 * r + 43] = 0x7F;
    }
    buf[4 + 48 * 1 + 40] = 7;  // a writer that stores a flag as some other non-zero byte
    b.inplane = true;

    unsigned count = 99;
    FaceInfo* faces = nullptr;
    ASSERT_TRUE(unpackFaceInfo(buf, sizeof buf, &count, &faces));
    ASSERT_EQ(count, 2u);
    ASSERT_NE(faces, nullptr);
    expectSame(faces[0], a);
    expectSame(faces[1], b);
    delete[] faces;
}

TEST(FaceInfo, UnpackEmptyAndRefusedSamples) {
    unsigned char buf[196] = {0};
    unsigned count = 7;
    FaceInfo* faces = nullptr;
    EXPECT_TRUE(unpackFaceInfo(buf, sizeof buf, &count, &faces));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(faces, nullptr);

    struct Case {
        uint32_t n;
        size_t length;
    } refused[] = {{5, 196}, {0xFFFFFFFFu, 196}, {0x80000000u, 196}, {2, 99}, {1, 3}};
    for (const Case& c : refused) {
        std::memcpy(buf, &c.n, 4);
        count = 7;
        faces = nullptr;
        EXPECT_FALSE(unpackFaceInfo(buf, c.length, &count, &faces)) << c.n;
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(faces, nullptr);
    }
    const uint32_t four = 4;
    std::memcpy(buf, &four, 4);
    ASSERT_TRUE(unpackFaceInfo(buf, sizeof buf, &count, &faces));
    EXPECT_EQ(count, 4u);
    delete[] faces;
}

TEST(FaceInfo, StreamIdentifiers) {
    const GUID major = {0x38792C67, 0x6DBA, 0x49EA, {0xB7, 0xA9, 0xC2, 0x12, 0x6D, 0x38, 0x45, 0x76}};
    const GUID format = {0x15309553, 0xDC22, 0x4A0A, {0x83, 0x9E, 0xB7, 0x95, 0x3D, 0xE9, 0x53, 0x48}};
    EXPECT_TRUE(MEDIATYPE_FaceInfo == major);
    EXPECT_TRUE(FORMAT_FaceInfo == format);
    EXPECT_EQ(sizeof(GUID), 16u);
    EXPECT_TRUE(MEDIATYPE_FaceInfo != GUID_NULL);
}
