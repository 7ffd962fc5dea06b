#include <gtest/gtest.h>

#include "filter_harness.h"
#include "utilityfilters/scaler/ScalingFilter.h"

using namespace harness;

namespace {

struct ScalerRig {
    Held<ScalingFilter> filter{nullptr, nullptr};
    Held<TestSource> source;
    Held<TestSink> sink;
    SourcePin* video = nullptr;
    SinkPin* out = nullptr;

    HRESULT connectInput(const CMediaType& type) {
        video = source->addPin(type, 1, (LONG)GetBitmapSize(&vihOf(type)->bmiHeader));
        return connect(video, filter->GetPin(0));
    }
    HRESULT connectOutput() {
        out = sink->addPin();
        out->keepBytes = true;
        return connect(filter->GetPin(1), out);
    }
    void run() {
        sink->Pause();
        filter->Pause();
        source->Pause();
    }
    ~ScalerRig() {
        source->Stop();
        filter->Stop();
        sink->Stop();
        if (video) disconnect(video);
        disconnect(filter->GetPin(1));
    }
    vision::MultiPinInputPin* in() { return static_cast<vision::MultiPinInputPin*>(filter->GetPin(0)); }
    vision::MultiPinOutputPin* output() { return static_cast<vision::MultiPinOutputPin*>(filter->GetPin(1)); }
};

}  // namespace

TEST(ScalingFilter, InputTypeTable) {
    ScalerRig rig;
    auto* in = rig.in();
    CMediaType noFormat = videoType(MEDIASUBTYPE_RGB24, 640, 480, 24);
    noFormat.SetFormatType(&FORMAT_None);
    CMediaType shortFormat = videoType(MEDIASUBTYPE_RGB24, 640, 480, 24);
    shortFormat.cbFormat = sizeof(VIDEOINFOHEADER) - 4;
    const struct {
        const char* what;
        CMediaType type;
        HRESULT expected;
    } cases[] = {
        {"rgb24 bottom-up", videoType(MEDIASUBTYPE_RGB24, 640, 480, 24), S_OK},
        {"rgb24 top-down", videoType(MEDIASUBTYPE_RGB24, 176, -144, 24), S_OK},
        {"rgb32", videoType(MEDIASUBTYPE_RGB32, 640, 480, 32), VFW_E_TYPE_NOT_ACCEPTED},
        {"audio", majorOnly(MEDIATYPE_Audio), VFW_E_TYPE_NOT_ACCEPTED},
        {"no video info", noFormat, E_INVALIDARG},
        {"short video info", shortFormat, VFW_E_TYPE_NOT_ACCEPTED},
        {"zero width", videoType(MEDIASUBTYPE_RGB24, 0, 480, 24), VFW_E_TYPE_NOT_ACCEPTED},
        {"negative width", videoType(MEDIASUBTYPE_RGB24, -640, 480, 24), VFW_E_TYPE_NOT_ACCEPTED},
        {"zero height", videoType(MEDIASUBTYPE_RGB24, 640, 0, 24), VFW_E_TYPE_NOT_ACCEPTED},
        {"huge", videoType(MEDIASUBTYPE_RGB24, 1 << 20, 480, 24), VFW_E_TYPE_NOT_ACCEPTED},
    };
    for (const auto& c : cases) EXPECT_EQ(rig.filter->CheckInputType(in, &c.type), c.expected) << c.what;

    // A required input size is matched on width and the absolute height.
    rig.filter->SetInputResolution(640, 480);
    const CMediaType vga = videoType(MEDIASUBTYPE_RGB24, 640, -480, 24);
    const CMediaType qvga = videoType(MEDIASUBTYPE_RGB24, 320, 240, 24);
    EXPECT_EQ(rig.filter->CheckInputType(in, &vga), S_OK);
    EXPECT_EQ(rig.filter->CheckInputType(in, &qvga), VFW_E_TYPE_NOT_ACCEPTED);
    rig.filter->SetInputResolution(640, 0);
    EXPECT_EQ(rig.filter->CheckInputType(in, &qvga), S_OK);
    // Not the input pin.
    EXPECT_EQ(rig.filter->CheckInputType(nullptr, &vga), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(ScalingFilter, OutputTypeTable) {
    ScalerRig rig;
    auto* out = rig.output();
    CMediaType noFormat = videoType(MEDIASUBTYPE_RGB24, 320, -240, 24);
    noFormat.SetFormatType(&FORMAT_VideoInfo2);
    const CMediaType topDown = videoType(MEDIASUBTYPE_RGB24, 320, -240, 24);
    const CMediaType bottomUp = videoType(MEDIASUBTYPE_RGB24, 320, 240, 24);
    const CMediaType other = videoType(MEDIASUBTYPE_RGB24, 640, -480, 24);
    const CMediaType rgb32 = videoType(MEDIASUBTYPE_RGB32, 320, -240, 32);
    EXPECT_EQ(rig.filter->CheckOutputType(out, &topDown), S_OK);
    EXPECT_EQ(rig.filter->CheckOutputType(out, &other), S_OK);  // no size set: any
    EXPECT_EQ(rig.filter->CheckOutputType(out, &bottomUp), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(rig.filter->CheckOutputType(out, &rgb32), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(rig.filter->CheckOutputType(out, &noFormat), E_INVALIDARG);
    rig.filter->SetOutputResolution(320, 240);
    EXPECT_EQ(rig.filter->CheckOutputType(out, &topDown), S_OK);
    EXPECT_EQ(rig.filter->CheckOutputType(out, &other), VFW_E_TYPE_NOT_ACCEPTED);
    // Half a size counts as none.
    rig.filter->SetOutputResolution(320, 0);
    EXPECT_EQ(rig.filter->CheckOutputType(out, &other), S_OK);
}

TEST(ScalingFilter, OfferedType) {
    ScalerRig rig;
    CMediaType mt;
    EXPECT_EQ(rig.filter->GetMediaType(rig.output(), 0, &mt), E_UNEXPECTED);  // input unconnected
    EXPECT_EQ(rig.output()->CheckMediaType(&mt), E_UNEXPECTED);
    rig.filter->SetOutputResolution(320, 240);
    ASSERT_EQ(rig.connectInput(videoType(MEDIASUBTYPE_RGB24, 640, 480, 24, 400000)), S_OK);
    EXPECT_EQ(rig.filter->GetMediaType(rig.output(), -1, &mt), E_INVALIDARG);
    EXPECT_EQ(rig.filter->GetMediaType(rig.output(), 1, &mt), VFW_S_NO_MORE_ITEMS);
    ASSERT_EQ(rig.filter->GetMediaType(rig.output(), 0, &mt), S_OK);
    EXPECT_EQ(mt.majortype, MEDIATYPE_Video);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_RGB24);
    EXPECT_EQ(mt.formattype, FORMAT_VideoInfo);
    EXPECT_TRUE(mt.bFixedSizeSamples);
    EXPECT_FALSE(mt.bTemporalCompression);
    EXPECT_EQ(mt.lSampleSize, 230400u);
    ASSERT_EQ(mt.cbFormat, 88u);
    const VIDEOINFOHEADER* vih = vihOf(mt);
    EXPECT_EQ(vih->rcSource.right, 0);
    EXPECT_EQ(vih->rcTarget.bottom, 0);
    EXPECT_EQ(vih->AvgTimePerFrame, 400000);
    EXPECT_EQ(vih->dwBitRate, (DWORD)(8LL * 230400 * 10000000 / 400000));
    EXPECT_EQ(vih->dwBitErrorRate, 0u);
    EXPECT_EQ(vih->bmiHeader.biSize, 40u);
    EXPECT_EQ(vih->bmiHeader.biWidth, 320);
    EXPECT_EQ(vih->bmiHeader.biHeight, -240);
    EXPECT_EQ(vih->bmiHeader.biPlanes, 1);
    EXPECT_EQ(vih->bmiHeader.biBitCount, 24);
    EXPECT_EQ(vih->bmiHeader.biCompression, 0u);
    EXPECT_EQ(vih->bmiHeader.biSizeImage, 230400u);
    EXPECT_EQ(vih->bmiHeader.biXPelsPerMeter, 0);
    EXPECT_EQ(vih->bmiHeader.biClrUsed, 0u);

    // Without an output size the input's size is offered, top-down; a frame time of 0 gives no rate.
    ScalerRig plain;
    ASSERT_EQ(plain.connectInput(videoType(MEDIASUBTYPE_RGB24, 322, 100, 24, 0)), S_OK);
    plain.filter->SetOutputResolution(0, 240);
    ASSERT_EQ(plain.filter->GetMediaType(plain.output(), 0, &mt), S_OK);
    vih = vihOf(mt);
    EXPECT_EQ(vih->bmiHeader.biWidth, 322);
    EXPECT_EQ(vih->bmiHeader.biHeight, -100);
    EXPECT_EQ(mt.lSampleSize, 968u * 100);
    EXPECT_EQ(vih->dwBitRate, 0u);
}

TEST(ScalingFilter, ScalesAFrameIntoTheChosenSize) {
    ScalerRig rig;
    rig.filter->SetOutputResolution(320, 240);
    ASSERT_EQ(rig.connectInput(videoType(MEDIASUBTYPE_RGB24, 176, 144, 24)), S_OK);
    ASSERT_EQ(rig.connectOutput(), S_OK);
    const VIDEOINFOHEADER* vih = vihOf(rig.out->CurrentMediaType());
    EXPECT_EQ(vih->bmiHeader.biWidth, 320);
    EXPECT_EQ(vih->bmiHeader.biHeight, -240);
    rig.run();
    // Bottom-up source: its first row in memory is the image's bottom row.
    std::vector<unsigned char> frame(176 * 3 * 144);
    for (int row = 0; row < 144; row++)
        for (int x = 0; x < 176; x++) {
            unsigned char* p = &frame[(size_t)row * 528 + 3 * x];
            p[0] = 50;
            p[1] = row < 72 ? 200 : 100;  // bottom half of the image 200
            p[2] = 7;
        }
    ASSERT_EQ(rig.video->push(0, &frame), S_OK);
    ASSERT_EQ(rig.out->arrivals.size(), 1u);
    const auto& bytes = rig.out->arrivals[0].bytes;
    ASSERT_EQ(bytes.size(), 230400u);
    auto px = [&](int x, int y) { return &bytes[(size_t)y * 960 + 3 * x]; };
    // Picture in columns 13..305, black on either side; top half 100, bottom half 200.
    for (int y : {0, 60, 118, 121, 180, 239}) {
        EXPECT_EQ(px(12, y)[0], 0);
        EXPECT_EQ(px(306, y)[1], 0);
        EXPECT_EQ(px(13, y)[0], 50);
        EXPECT_EQ(px(305, y)[2], 7);
        EXPECT_EQ(px(150, y)[1], y < 120 ? 100 : 200) << y;
    }
}

TEST(ScalingFilter, EqualSizesAreCopiedTopDown) {
    ScalerRig rig;
    ASSERT_EQ(rig.connectInput(videoType(MEDIASUBTYPE_RGB24, 4, 2, 24)), S_OK);
    ASSERT_EQ(rig.connectOutput(), S_OK);
    rig.run();
    std::vector<unsigned char> frame(24);
    for (int i = 0; i < 24; i++) frame[i] = (unsigned char)i;
    ASSERT_EQ(rig.video->push(0, &frame), S_OK);
    ASSERT_EQ(rig.out->arrivals.size(), 1u);
    const auto& bytes = rig.out->arrivals[0].bytes;
    ASSERT_EQ(bytes.size(), 24u);
    for (int i = 0; i < 12; i++) {
        EXPECT_EQ(bytes[i], frame[12 + i]);
        EXPECT_EQ(bytes[12 + i], frame[i]);
    }
}

TEST(ScalingFilter, SampleShorterThanItsFrameIsSkipped) {
    ScalerRig rig;
    rig.filter->SetOutputResolution(8, 4);
    ASSERT_EQ(rig.connectInput(videoType(MEDIASUBTYPE_RGB24, 16, 8, 24)), S_OK);
    ASSERT_EQ(rig.connectOutput(), S_OK);
    rig.run();
    EXPECT_EQ(rig.video->push(9, nullptr, AM_STREAM_MEDIA, 100), S_OK);
    EXPECT_TRUE(rig.out->arrivals.empty());
    EXPECT_EQ(rig.video->push(9), S_OK);
    ASSERT_EQ(rig.out->arrivals.size(), 1u);
    EXPECT_EQ(rig.out->arrivals[0].bytes[0], 9);
}

TEST(ScalingFilter, OwnInterfaceAndIdentity) {
    Held<ScalingFilter> filter{nullptr, nullptr};
    ITamsel* tamsel = nullptr;
    EXPECT_EQ(filter->NonDelegatingQueryInterface(IID_ITamsel, nullptr), E_POINTER);
    ASSERT_EQ(filter->NonDelegatingQueryInterface(IID_ITamsel, reinterpret_cast<void**>(&tamsel)), S_OK);
    EXPECT_EQ(tamsel->SetOutputResolution(320, 240), S_OK);
    IBaseFilter* base = nullptr;
    ASSERT_EQ(tamsel->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&base)), S_OK);
    CLSID clsid{};
    base->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_ScalingFilter);
    base->Release();
    tamsel->Release();
    EXPECT_EQ(filter->GetPinCount(), 2);
    PIN_INFO info{};
    filter->GetPin(1)->QueryPinInfo(&info);
    EXPECT_EQ(std::wstring(info.achName), L"Video Out");
    if (info.pFilter) info.pFilter->Release();
}
