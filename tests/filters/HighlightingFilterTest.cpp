#include <gtest/gtest.h>

#include <climits>

#include "filter_harness.h"
#include "utilityfilters/highlighter/HighlightingFilter.h"

using namespace harness;
using vision::FaceInfo;
using vision::RgbFrame;

namespace {


struct Box {
    int x, y, w, h;
};

std::vector<unsigned char> faceSample(const std::vector<Box>& boxes) {
    std::vector<FaceInfo> faces(boxes.size());
    std::vector<FaceInfo*> pointers;
    for (size_t i = 0; i < boxes.size(); i++) {
        faces[i].bbx_x = boxes[i].x;
        faces[i].bbx_y = boxes[i].y;
        faces[i].bbx_width = boxes[i].w;
        faces[i].bbx_height = boxes[i].h;
        pointers.push_back(&faces[i]);
    }
    std::vector<unsigned char> bytes(196, 0);
    vision::packFaceInfo((unsigned)pointers.size(), pointers.data(), bytes.data(), bytes.size());
    return bytes;
}

// A picture with a different value in every pixel, so that a misplaced copy shows.
std::vector<unsigned char> pattern(int w, int h, int bpp) {
    const int stride = (w * bpp + 3) & ~3;
    std::vector<unsigned char> bytes((size_t)stride * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (int c = 0; c < bpp; c++) bytes[(size_t)y * stride + x * bpp + c] = (unsigned char)((x * 7 + y * 3 + c * 50) % 200);
    return bytes;
}

struct HighlightRig {
    Held<HighlightingFilter> filter{nullptr, nullptr};
    Held<TestSource> source;
    Held<TestSink> sink;
    SourcePin* video = nullptr;
    SourcePin* faces = nullptr;
    SinkPin* out = nullptr;

    HRESULT connectVideo(const CMediaType& type) {
        video = source->addPin(type, 1, (LONG)GetBitmapSize(&vihOf(type)->bmiHeader));
        return connect(video, filter->GetPin(0));
    }
    HRESULT connectFaces() {
        faces = source->addPin(majorOnly(MEDIATYPE_FaceInfo), 1, 196);
        return connect(faces, filter->GetPin(1));
    }
    HRESULT connectOutput() {
        out = sink->addPin();
        out->keepBytes = true;
        return connect(filter->GetPin(2), out);
    }
    void run() {
        sink->Pause();
        filter->Pause();
        source->Pause();
    }
    ~HighlightRig() {
        source->Stop();
        filter->Stop();
        sink->Stop();
        if (video) disconnect(video);
        if (faces) disconnect(faces);
        disconnect(filter->GetPin(2));
    }
    vision::MultiPinInputPin* in(int i) { return static_cast<vision::MultiPinInputPin*>(filter->GetPin(i)); }
    vision::MultiPinOutputPin* output() { return static_cast<vision::MultiPinOutputPin*>(filter->GetPin(2)); }

    // Pushes one frame (and its faces when the face pin is connected); the delivered output.
    std::vector<unsigned char> frame(const std::vector<unsigned char>& picture, const std::vector<Box>& boxes) {
        EXPECT_EQ(video->push(0, &picture), S_OK);
        if (faces) {
            const auto info = faceSample(boxes);
            EXPECT_EQ(faces->push(0, &info), S_OK);
        }
        EXPECT_FALSE(out->arrivals.empty());
        return out->arrivals.empty() ? std::vector<unsigned char>() : out->arrivals.back().bytes;
    }
};

const unsigned char RED24[3] = {0, 0, 255};

}  // namespace

TEST(HighlightingFilter, MediaTypeTables) {
    HighlightRig rig;
    auto* video = rig.in(0);
    auto* faces = rig.in(1);
    auto* out = rig.output();
    const CMediaType rgb24 = videoType(MEDIASUBTYPE_RGB24, 320, 240, 24);
    const CMediaType argb32 = videoType(MEDIASUBTYPE_ARGB32, 320, 240, 32);
    const CMediaType rgb32 = videoType(MEDIASUBTYPE_RGB32, 320, 240, 32);
    const CMediaType info = majorOnly(MEDIATYPE_FaceInfo);
    CMediaType noFormat = rgb24;
    noFormat.SetFormatType(&FORMAT_None);
    const CMediaType rgb24Down = videoType(MEDIASUBTYPE_RGB24, 320, -240, 24);
    const CMediaType argb32Down = videoType(MEDIASUBTYPE_ARGB32, 320, -240, 32);
    CMediaType downNoFormat = rgb24Down;
    downNoFormat.SetFormatType(&FORMAT_VideoInfo2);

    const struct {
        int mode;
        const CMediaType* type;
        HRESULT video, faces, out;
    } cases[] = {
        {0, &rgb24, S_OK, VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
        {0, &rgb24Down, S_OK, VFW_E_TYPE_NOT_ACCEPTED, S_OK},
        {0, &argb32, VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
        {0, &argb32Down, VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
        {0, &rgb32, VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
        {0, &info, VFW_E_TYPE_NOT_ACCEPTED, S_OK, VFW_E_TYPE_NOT_ACCEPTED},
        {0, &noFormat, E_INVALIDARG, VFW_E_TYPE_NOT_ACCEPTED, E_INVALIDARG},
        {0, &downNoFormat, E_INVALIDARG, VFW_E_TYPE_NOT_ACCEPTED, E_INVALIDARG},
        {1, &argb32, S_OK, VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
        {1, &argb32Down, S_OK, VFW_E_TYPE_NOT_ACCEPTED, S_OK},
        {1, &rgb24Down, VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
        {1, &info, VFW_E_TYPE_NOT_ACCEPTED, S_OK, VFW_E_TYPE_NOT_ACCEPTED},
        {2, &rgb24Down, VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
    };
    for (const auto& c : cases) {
        rig.filter->SetDrawMode(c.mode);
        int mode = -1;
        EXPECT_EQ(rig.filter->GetDrawMode(&mode), S_OK);
        EXPECT_EQ(mode, c.mode);
        const int row = (int)(&c - cases);
        EXPECT_EQ(rig.filter->CheckInputType(video, c.type), c.video) << "row " << row;
        EXPECT_EQ(rig.filter->CheckInputType(faces, c.type), c.faces) << "row " << row;
        EXPECT_EQ(rig.filter->CheckOutputType(out, c.type), c.out) << "row " << row;
    }
    EXPECT_EQ(rig.filter->GetDrawMode(nullptr), E_POINTER);
}

TEST(HighlightingFilter, OfferedTypeFollowsTheVideoInputAndDrawMode) {
    for (int mode : {0, 1}) {
        HighlightRig rig;
        rig.filter->SetDrawMode(mode);
        CMediaType mt;
        EXPECT_EQ(rig.filter->GetMediaType(rig.output(), 0, &mt), E_UNEXPECTED);
        const GUID& subtype = mode ? MEDIASUBTYPE_ARGB32 : MEDIASUBTYPE_RGB24;
        ASSERT_EQ(rig.connectVideo(videoType(subtype, 322, 120, mode ? 32 : 24, 666666)), S_OK);
        EXPECT_EQ(rig.filter->GetMediaType(rig.output(), -1, &mt), E_INVALIDARG);
        EXPECT_EQ(rig.filter->GetMediaType(rig.output(), 1, &mt), VFW_S_NO_MORE_ITEMS);
        ASSERT_EQ(rig.filter->GetMediaType(rig.output(), 0, &mt), S_OK);
        const ULONG size = (mode ? 1288u : 968u) * 120;
        EXPECT_EQ(mt.subtype, subtype);
        EXPECT_EQ(mt.lSampleSize, size);
        const VIDEOINFOHEADER* vih = vihOf(mt);
        EXPECT_EQ(vih->bmiHeader.biWidth, 322);
        EXPECT_EQ(vih->bmiHeader.biHeight, -120);
        EXPECT_EQ(vih->bmiHeader.biBitCount, mode ? 32 : 24);
        EXPECT_EQ(vih->bmiHeader.biSizeImage, size);
        EXPECT_EQ(vih->AvgTimePerFrame, 666666);
        EXPECT_EQ(vih->dwBitRate, (DWORD)(8LL * size * 10000000 / 666666));
    }
}

TEST(HighlightingFilter, OutlinesExactlyTheBoxEdges) {
    HighlightRig rig;
    ASSERT_EQ(rig.connectVideo(videoType(MEDIASUBTYPE_RGB24, 320, -240, 24)), S_OK);
    ASSERT_EQ(rig.connectFaces(), S_OK);
    ASSERT_EQ(rig.connectOutput(), S_OK);
    rig.run();
    const auto picture = pattern(320, 240, 3);
    const auto out = rig.frame(picture, {{10, 20, 30, 40}});
    ASSERT_EQ(out.size(), picture.size());
    int red = 0;
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 320; x++) {
            const bool edge = ((x == 10 || x == 39) && y >= 20 && y <= 59) || ((y == 20 || y == 59) && x >= 10 && x <= 39);
            const size_t at = (size_t)y * 960 + 3 * x;
            if (edge) {
                ASSERT_EQ(0, std::memcmp(&out[at], RED24, 3)) << x << "," << y;
                red++;
            } else {
                ASSERT_EQ(0, std::memcmp(&out[at], &picture[at], 3)) << x << "," << y;
            }
        }
    EXPECT_EQ(red, 2 * 30 + 2 * 38);
}

// Boxes that stick out are drawn where visible; boxes outside, empty or absurd change nothing.
TEST(HighlightingFilter, ClipsBoxesToTheFrame) {
    HighlightRig rig;
    ASSERT_EQ(rig.connectVideo(videoType(MEDIASUBTYPE_RGB24, 64, -48, 24)), S_OK);
    ASSERT_EQ(rig.connectFaces(), S_OK);
    ASSERT_EQ(rig.connectOutput(), S_OK);
    rig.run();
    const auto picture = pattern(64, 48, 3);
    auto isRed = [](const std::vector<unsigned char>& f, int x, int y) {
        return std::memcmp(&f[(size_t)y * 192 + 3 * x], RED24, 3) == 0;
    };

    auto out = rig.frame(picture, {{-10, -5, 30, 20}});
    for (int x = 0; x < 64; x++)
        for (int y = 0; y < 48; y++) {
            const bool edge = (x == 19 && y <= 14) || (y == 14 && x <= 19);
            EXPECT_EQ(isRed(out, x, y), edge) << x << "," << y;
        }

    out = rig.frame(picture, {{50, 40, 100, 100}});
    for (int x = 0; x < 64; x++)
        for (int y = 0; y < 48; y++) {
            const bool edge = (x == 50 && y >= 40) || (y == 40 && x >= 50);
            EXPECT_EQ(isRed(out, x, y), edge) << x << "," << y;
        }

    for (Box b : {Box{100, 10, 10, 10}, Box{-40, 10, 30, 10}, Box{10, 10, 0, 10}, Box{10, 10, 5, -3},
                  Box{INT_MAX, INT_MAX, INT_MAX, INT_MAX}, Box{INT_MIN, INT_MIN, INT_MAX, 10}}) {
        out = rig.frame(picture, {b});
        EXPECT_EQ(out, picture) << b.x << "," << b.y << "," << b.w << "," << b.h;
    }
    // A box wider than the frame in both directions shows only its top and bottom rows.
    out = rig.frame(picture, {{INT_MIN / 2, 5, INT_MAX, 10}});
    for (int x = 0; x < 64; x++) {
        EXPECT_TRUE(isRed(out, x, 5));
        EXPECT_TRUE(isRed(out, x, 14));
        EXPECT_FALSE(isRed(out, x, 9));
    }
}

TEST(HighlightingFilter, WithoutFacesTheFrameIsCopied) {
    {
        HighlightRig rig;
        ASSERT_EQ(rig.connectVideo(videoType(MEDIASUBTYPE_RGB24, 64, -48, 24)), S_OK);
        ASSERT_EQ(rig.connectFaces(), S_OK);
        ASSERT_EQ(rig.connectOutput(), S_OK);
        rig.run();
        const auto picture = pattern(64, 48, 3);
        EXPECT_EQ(rig.frame(picture, {}), picture);
        // A count that the sample's length cannot hold is not believed.
        std::vector<unsigned char> info = faceSample({{1, 1, 10, 10}, {2, 2, 10, 10}});
        info[0] = 4;
        ASSERT_EQ(rig.video->push(0, &picture), S_OK);
        ASSERT_EQ(rig.faces->push(0, &info, AM_STREAM_MEDIA, 4 + 48 * 2), S_OK);
        EXPECT_EQ(rig.out->arrivals.back().bytes, picture);
    }
    {
        HighlightRig rig;  // face pin unconnected: every frame goes through as it is
        ASSERT_EQ(rig.connectVideo(videoType(MEDIASUBTYPE_RGB24, 64, -48, 24)), S_OK);
        ASSERT_EQ(rig.connectOutput(), S_OK);
        rig.run();
        const auto picture = pattern(64, 48, 3);
        EXPECT_EQ(rig.frame(picture, {}), picture);
        EXPECT_EQ(rig.frame(picture, {}), picture);
        EXPECT_EQ(rig.out->arrivals.size(), 2u);
    }
}

TEST(HighlightingFilter, BottomUpInputIsOutlinedTheRightWayUp) {
    HighlightRig rig;
    ASSERT_EQ(rig.connectVideo(videoType(MEDIASUBTYPE_RGB24, 64, 48, 24)), S_OK);
    ASSERT_EQ(rig.connectFaces(), S_OK);
    ASSERT_EQ(rig.connectOutput(), S_OK);
    rig.run();
    const auto picture = pattern(64, 48, 3);
    const auto out = rig.frame(picture, {{0, 0, 19, 19}});
    // Output row y is input memory row 47 - y.
    for (int y = 0; y < 48; y++)
        for (int x = 0; x < 64; x++) {
            const bool edge = ((x == 0 || x == 18) && y <= 18) || ((y == 0 || y == 18) && x <= 18);
            const unsigned char* o = &out[(size_t)y * 192 + 3 * x];
            if (edge)
                ASSERT_EQ(0, std::memcmp(o, RED24, 3)) << x << "," << y;
            else
                ASSERT_EQ(0, std::memcmp(o, &picture[(size_t)(47 - y) * 192 + 3 * x], 3)) << x << "," << y;
        }
}

TEST(HighlightingFilter, ArgbModeOutlinesOpaqueRed) {
    HighlightRig rig;
    rig.filter->SetDrawMode(1);
    ASSERT_EQ(rig.connectVideo(videoType(MEDIASUBTYPE_ARGB32, 32, -24, 32)), S_OK);
    ASSERT_EQ(rig.connectFaces(), S_OK);
    ASSERT_EQ(rig.connectOutput(), S_OK);
    EXPECT_EQ(rig.out->CurrentMediaType().subtype, MEDIASUBTYPE_ARGB32);
    rig.run();
    auto picture = pattern(32, 24, 4);
    const auto out = rig.frame(picture, {{2, 3, 4, 5}});
    const unsigned char opaqueRed[4] = {0, 0, 255, 255};
    EXPECT_EQ(0, std::memcmp(&out[(size_t)3 * 128 + 4 * 2], opaqueRed, 4));
    EXPECT_EQ(0, std::memcmp(&out[(size_t)7 * 128 + 4 * 5], opaqueRed, 4));
    EXPECT_EQ(0, std::memcmp(&out[(size_t)5 * 128 + 4 * 3], &picture[(size_t)5 * 128 + 4 * 3], 4));
}

namespace {

struct RecordingPainter : HighlightPainter {
    bool copies = false, paints = false;
    int copyCalls = 0, paintCalls = 0;
    unsigned lastCount = 0;
    bool copyFrame(RgbFrame* out, const RgbFrame* in) override {
        copyCalls++;
        if (copies) {
            const unsigned char grey[3] = {128, 128, 128};
            out->fill(grey);
        }
        return copies;
    }
    bool paintFaces(RgbFrame* out, const RgbFrame* in, unsigned count, FaceInfo* faces) override {
        paintCalls++;
        lastCount = count;
        return paints;
    }
};

}  // namespace

TEST(HighlightingFilter, PainterMayTakeOverTheCopyOrTheDrawing) {
    HighlightRig rig;
    ASSERT_EQ(rig.connectVideo(videoType(MEDIASUBTYPE_RGB24, 16, -16, 24)), S_OK);
    ASSERT_EQ(rig.connectFaces(), S_OK);
    ASSERT_EQ(rig.connectOutput(), S_OK);
    RecordingPainter first, painter;
    rig.filter->SetPainter(&first);
    EXPECT_EQ(first.owner, static_cast<IHighlighting*>(rig.filter.get()));
    rig.filter->SetPainter(&painter);
    EXPECT_EQ(first.owner, nullptr);
    EXPECT_EQ(painter.owner, static_cast<IHighlighting*>(rig.filter.get()));
    rig.run();
    const auto picture = pattern(16, 16, 3);
    auto at = [](const std::vector<unsigned char>& f, int x, int y) { return &f[(size_t)y * 48 + 3 * x]; };

    painter.copies = true;  // its own copy, outlined by the filter
    auto out = rig.frame(picture, {{1, 1, 4, 4}});
    EXPECT_EQ(painter.lastCount, 1u);
    EXPECT_EQ(0, std::memcmp(at(out, 1, 1), RED24, 3));
    EXPECT_EQ(at(out, 8, 8)[0], 128);

    painter.copies = false;
    painter.paints = true;  // its drawing replaces the boxes
    out = rig.frame(picture, {{1, 1, 4, 4}});
    EXPECT_EQ(0, std::memcmp(at(out, 1, 1), at(picture, 1, 1), 3));
    EXPECT_EQ(out, picture);
    EXPECT_EQ(painter.copyCalls, 2);
    EXPECT_EQ(painter.paintCalls, 2);

    rig.filter->SetPainter(nullptr);
    EXPECT_EQ(painter.owner, nullptr);
    out = rig.frame(picture, {{1, 1, 4, 4}});
    EXPECT_EQ(0, std::memcmp(at(out, 4, 4), RED24, 3));
    EXPECT_EQ(painter.paintCalls, 2);
}

TEST(HighlightingFilter, PinsAndInterface) {
    Held<HighlightingFilter> filter{nullptr, nullptr};
    EXPECT_EQ(filter->GetPinCount(), 3);
    const wchar_t* names[] = {L"Video In", L"FaceInfo In", L"Video Out"};
    for (int i = 0; i < 3; i++) {
        PIN_INFO info{};
        ASSERT_EQ(filter->GetPin(i)->QueryPinInfo(&info), S_OK);
        EXPECT_EQ(std::wstring(info.achName), names[i]);
        EXPECT_EQ(info.dir, i < 2 ? PINDIR_INPUT : PINDIR_OUTPUT);
        if (info.pFilter) info.pFilter->Release();
    }
    IHighlighting* h = nullptr;
    EXPECT_EQ(filter->NonDelegatingQueryInterface(IID_IHighlighting, nullptr), E_POINTER);
    ASSERT_EQ(filter->NonDelegatingQueryInterface(IID_IHighlighting, reinterpret_cast<void**>(&h)), S_OK);
    EXPECT_EQ(h->SetDrawMode(7), S_OK);
    int mode = 0;
    h->GetDrawMode(&mode);
    EXPECT_EQ(mode, 7);
    h->Release();
}
