// The four filters refuse a bad video type alike, through their format tables.
#include <gtest/gtest.h>

#include "detection/filter/DetectionFilter.h"
#include "filter_harness.h"
#include "utilityfilters/highlighter/HighlightingFilter.h"
#include "utilityfilters/scaler/ScalingFilter.h"
#include "verification/filter/VerificationFilter.h"

using namespace harness;
using vision::MultiPinInputPin;
using vision::MultiPinOutputPin;
using vision::MultiPinTransformFilter;

namespace {

// A filter with its video input and video output.
struct VideoPins {
    const char* name;
    MultiPinTransformFilter* filter;
    MultiPinInputPin* in;
    MultiPinOutputPin* out;
};

VideoPins pinsOf(const char* name, MultiPinTransformFilter* filter, int outputPin) {
    return {name, filter, static_cast<MultiPinInputPin*>(filter->GetPin(0)),
            static_cast<MultiPinOutputPin*>(filter->GetPin(outputPin))};
}

CMediaType withFormatType(CMediaType mt, const GUID& formatType) {
    mt.SetFormatType(&formatType);
    return mt;
}

CMediaType withBlockLength(CMediaType mt, ULONG length) {
    if (length == 0)
        mt.ResetFormatBuffer();
    else
        mt.ReallocFormatBuffer(length);
    return mt;
}

}  // namespace

TEST(PinFormats, EveryFilterRefusesWhatTheOthersRefuse) {
    Held<DetectionFilter> detector(nullptr, nullptr);
    Held<VerificationFilter> verifier(nullptr, nullptr);
    Held<HighlightingFilter> highlighter(nullptr, nullptr);
    Held<ScalingFilter> scaler(nullptr, nullptr);
    const VideoPins filters[] = {pinsOf("detector", detector.get(), 1), pinsOf("verifier", verifier.get(), 2),
                                 pinsOf("highlighter", highlighter.get(), 2), pinsOf("scaler", scaler.get(), 1)};

    const CMediaType topDown = videoType(MEDIASUBTYPE_RGB24, 320, -240, 24);
    const struct {
        const char* what;
        CMediaType type;
        HRESULT in, out;
    } cases[] = {
        {"RGB24 top-down", topDown, S_OK, S_OK},
        {"RGB24 bottom-up", videoType(MEDIASUBTYPE_RGB24, 320, 240, 24), S_OK, VFW_E_TYPE_NOT_ACCEPTED},
        {"another subtype", videoType(MEDIASUBTYPE_RGB32, 320, -240, 32), VFW_E_TYPE_NOT_ACCEPTED,
         VFW_E_TYPE_NOT_ACCEPTED},
        {"not video", majorOnly(MEDIATYPE_FaceInfo), VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
        {"no format type", withFormatType(topDown, FORMAT_None), E_INVALIDARG, E_INVALIDARG},
        {"another format type", withFormatType(topDown, FORMAT_VideoInfo2), E_INVALIDARG, E_INVALIDARG},
        {"short format block", withBlockLength(topDown, sizeof(VIDEOINFOHEADER) - 4), VFW_E_TYPE_NOT_ACCEPTED,
         VFW_E_TYPE_NOT_ACCEPTED},
        {"no format block", withBlockLength(topDown, 0), VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
        {"width 0", videoType(MEDIASUBTYPE_RGB24, 0, -240, 24), VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
        {"negative width", videoType(MEDIASUBTYPE_RGB24, -320, -240, 24), VFW_E_TYPE_NOT_ACCEPTED,
         VFW_E_TYPE_NOT_ACCEPTED},
        {"height 0", videoType(MEDIASUBTYPE_RGB24, 320, 0, 24), VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
        {"too wide", videoType(MEDIASUBTYPE_RGB24, 1 << 20, -240, 24), VFW_E_TYPE_NOT_ACCEPTED,
         VFW_E_TYPE_NOT_ACCEPTED},
        {"too high", videoType(MEDIASUBTYPE_RGB24, 320, -(1 << 20), 24), VFW_E_TYPE_NOT_ACCEPTED,
         VFW_E_TYPE_NOT_ACCEPTED},
    };
    for (const VideoPins& f : filters)
        for (const auto& c : cases) {
            EXPECT_EQ(f.filter->CheckInputType(f.in, &c.type), c.in) << f.name << ": " << c.what;
            EXPECT_EQ(f.filter->CheckOutputType(f.out, &c.type), c.out) << f.name << ": " << c.what;
        }
}

// An output that carries a copy of its input frame takes only the input's size; the others draw or
// scale into whatever size they are given.
TEST(PinFormats, CopyingOutputsTakeOnlyTheSizeOfTheirInput) {
    Held<DetectionFilter> detector(nullptr, nullptr);
    Held<VerificationFilter> verifier(nullptr, nullptr);
    Held<HighlightingFilter> highlighter(nullptr, nullptr);
    Held<ScalingFilter> scaler(nullptr, nullptr);
    const struct {
        VideoPins pins;
        HRESULT otherSize;
    } filters[] = {{pinsOf("detector", detector.get(), 1), VFW_E_TYPE_NOT_ACCEPTED},
                   {pinsOf("verifier", verifier.get(), 2), VFW_E_TYPE_NOT_ACCEPTED},
                   {pinsOf("highlighter", highlighter.get(), 2), S_OK},
                   {pinsOf("scaler", scaler.get(), 1), S_OK}};
    Held<TestSource> source;
    const CMediaType same = videoType(MEDIASUBTYPE_RGB24, 160, -120, 24);
    const CMediaType other = videoType(MEDIASUBTYPE_RGB24, 164, -120, 24);
    for (const auto& f : filters) {
        SourcePin* video = source->addPin(videoType(MEDIASUBTYPE_RGB24, 160, 120, 24), 1, 3 * 160 * 120);
        ASSERT_EQ(connect(video, f.pins.in), S_OK) << f.pins.name;
        EXPECT_EQ(f.pins.filter->CheckOutputType(f.pins.out, &same), S_OK) << f.pins.name;
        EXPECT_EQ(f.pins.filter->CheckOutputType(f.pins.out, &other), f.otherSize) << f.pins.name;
        disconnect(video);
    }
}
