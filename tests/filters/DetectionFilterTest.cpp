#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>

#include "detection/settings/FaceTrackingSettings.h"
#include "detection_filter_rig.h"
#include "visionlib/filter/VideoMediaType.h"
#include "read_file.h"

using testutil::readFile;

using namespace detect_rig;
using vision::FaceInfo;
using vision::FaceTrackingSettings;
using vision::MultiPinInputPin;
using vision::MultiPinOutputPin;

namespace {

const LONG W = 64, H = 48;
const size_t FACE_SAMPLE = 196;

// Settings that scan every frame, whatever moved.
FaceTrackingSettings* everyFrameSettings(int maxFaces = 4, int width = W, int height = H) {
    FaceTrackingSettings* s = new FaceTrackingSettings(maxFaces, width, height);
    s->modulo_detection.value = 1;
    return s;
}

bool allZero(const std::vector<unsigned char>& bytes) {
    for (unsigned char b : bytes)
        if (b) return false;
    return true;
}

int occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

// Image row y of a frame stored with the given row order.
std::vector<unsigned char> imageRow(const std::vector<unsigned char>& frame, int width, int height, int y,
                                    bool bottomUp) {
    const LONG stride = strideOf(width);
    const size_t start = (size_t)(bottomUp ? height - 1 - y : y) * stride;
    return std::vector<unsigned char>(frame.begin() + start, frame.begin() + start + 3 * width);
}

// Counts the settings objects destroyed.
struct CountedSettings : FaceTrackingSettings {
    int* deaths;
    CountedSettings(int* d, int maxFaces) : FaceTrackingSettings(maxFaces, W, H), deaths(d) {}
    ~CountedSettings() override { ++*deaths; }
};

}  // namespace

TEST(DetectionFilter, PinsTypesAndBufferSizes) {
    Held<DetectionFilter> filter(nullptr, nullptr);
    ASSERT_EQ(filter->GetPinCount(), 3);
    PIN_INFO info;
    const wchar_t* names[] = {L"Video In", L"Video Out", L"FaceInfo Out"};
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(filter->GetPin(i)->QueryPinInfo(&info), S_OK);
        EXPECT_EQ(std::wstring(info.achName), names[i]);
        EXPECT_EQ(info.dir, i == 0 ? PINDIR_INPUT : PINDIR_OUTPUT);
        if (info.pFilter) info.pFilter->Release();
    }
    auto* in = static_cast<MultiPinInputPin*>(filter->GetPin(0));
    auto* video = static_cast<MultiPinOutputPin*>(filter->GetPin(1));
    auto* faces = static_cast<MultiPinOutputPin*>(filter->GetPin(2));

    CMediaType shortBlock = videoType(MEDIASUBTYPE_RGB24, 320, 240, 24);
    shortBlock.ReallocFormatBuffer(sizeof(VIDEOINFOHEADER) - 4);
    CMediaType noBlock = videoType(MEDIASUBTYPE_RGB24, 320, 240, 24);
    noBlock.ResetFormatBuffer();
    CMediaType otherFormat = videoType(MEDIASUBTYPE_RGB24, 320, 240, 24);
    otherFormat.SetFormatType(&FORMAT_None);
    struct Case {
        const char* what;
        CMediaType type;
        HRESULT input, videoOut;
    } cases[] = {
        {"RGB24 bottom-up", videoType(MEDIASUBTYPE_RGB24, 320, 240, 24), S_OK, VFW_E_TYPE_NOT_ACCEPTED},
        {"RGB24 top-down", videoType(MEDIASUBTYPE_RGB24, 320, -240, 24), S_OK, S_OK},
        {"RGB32", videoType(MEDIASUBTYPE_RGB32, 320, 240, 32), VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
        {"not video", majorOnly(MEDIATYPE_FaceInfo), VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
        {"another format type", otherFormat, E_INVALIDARG, E_INVALIDARG},
        {"short format block", shortBlock, VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
        {"no format block", noBlock, VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
        {"width 0", videoType(MEDIASUBTYPE_RGB24, 0, -240, 24), VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
        {"negative width", videoType(MEDIASUBTYPE_RGB24, -320, -240, 24), VFW_E_TYPE_NOT_ACCEPTED,
         VFW_E_TYPE_NOT_ACCEPTED},
        {"height 0", videoType(MEDIASUBTYPE_RGB24, 320, 0, 24), VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(filter->CheckInputType(in, &c.type), c.input) << c.what;
        EXPECT_EQ(filter->CheckOutputType(video, &c.type), c.videoOut) << c.what;
        EXPECT_EQ(filter->CheckOutputType(faces, &c.type),
                  c.type.majortype == MEDIATYPE_FaceInfo ? S_OK : VFW_E_TYPE_NOT_ACCEPTED)
            << c.what;
    }
    CMediaType faceType = majorOnly(MEDIATYPE_FaceInfo);
    EXPECT_EQ(filter->CheckOutputType(faces, &faceType), S_OK);

    // A required input size takes both row orders of that size only.
    filter->SetInputResolution(320, 240);
    CMediaType big = videoType(MEDIASUBTYPE_RGB24, 640, 480, 24), down = videoType(MEDIASUBTYPE_RGB24, 320, -240, 24),
               up = videoType(MEDIASUBTYPE_RGB24, 320, 240, 24);
    EXPECT_EQ(filter->CheckInputType(in, &big), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(filter->CheckInputType(in, &down), S_OK);
    EXPECT_EQ(filter->CheckInputType(in, &up), S_OK);
    filter->SetInputResolution(0, 0);
    EXPECT_EQ(filter->CheckInputType(in, &big), S_OK);

    // Offers: the video type only once the input is connected; the face type always, 196 bytes.
    CMediaType offered;
    EXPECT_EQ(filter->GetMediaType(video, 0, &offered), E_UNEXPECTED);
    EXPECT_EQ(filter->GetMediaType(video, -1, &offered), E_INVALIDARG);
    ASSERT_EQ(filter->GetMediaType(faces, 0, &offered), S_OK);
    EXPECT_EQ(offered.majortype, MEDIATYPE_FaceInfo);
    EXPECT_EQ(offered.subtype, GUID_NULL);
    EXPECT_EQ(offered.formattype, FORMAT_FaceInfo);
    EXPECT_EQ(offered.FormatLength(), 0u);
    EXPECT_EQ(offered.GetSampleSize(), FACE_SAMPLE);
    EXPECT_EQ(filter->GetMediaType(faces, 1, &offered), VFW_S_NO_MORE_ITEMS);
}

TEST(DetectionFilter, VideoOutOffersATopDownCopyOfTheInputType) {
    Held<TestSource> source;
    Held<DetectionFilter> filter(nullptr, nullptr);
    SourcePin* out = source->addPin(videoType(MEDIASUBTYPE_RGB24, 66, 30, 24), 1, strideOf(66) * 30);
    ASSERT_EQ(connect(out, filter->GetPin(0)), S_OK);
    auto* video = static_cast<MultiPinOutputPin*>(filter->GetPin(1));
    CMediaType offered;
    ASSERT_EQ(filter->GetMediaType(video, 0, &offered), S_OK);
    const VIDEOINFOHEADER* vih = vihOf(offered);
    EXPECT_EQ(offered.FormatLength(), sizeof(VIDEOINFOHEADER));
    EXPECT_EQ(vih->bmiHeader.biWidth, 66);
    EXPECT_EQ(vih->bmiHeader.biHeight, -30);
    EXPECT_EQ(vih->AvgTimePerFrame, vihOf(out->type)->AvgTimePerFrame);
    EXPECT_EQ(offered.GetSampleSize(), (ULONG)(strideOf(66) * 30));
    EXPECT_EQ(filter->GetMediaType(video, 1, &offered), VFW_S_NO_MORE_ITEMS);
    // A top-down type of another size is another picture.
    CMediaType other = videoType(MEDIASUBTYPE_RGB24, 64, -30, 24);
    EXPECT_EQ(filter->CheckOutputType(video, &other), VFW_E_TYPE_NOT_ACCEPTED);
    disconnect(out);
}

namespace {
// Grants what it is told instead of what is asked.
class GrantingAllocator : public CMemAllocator {
public:
    GrantingAllocator(LONG buffers, LONG size) : CMemAllocator("granting allocator", nullptr, nullptr), buffers(buffers), size(size) {}
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
        ALLOCATOR_PROPERTIES granted = *request;
        granted.cBuffers = buffers;
        granted.cbBuffer = size;
        return CMemAllocator::SetProperties(&granted, actual);
    }
    LONG buffers, size;
};
}  // namespace

TEST(DetectionFilter, BufferSizesThatAreNotGrantedAreRefused) {
    Held<TestSource> source;
    Held<DetectionFilter> filter(nullptr, nullptr);
    SourcePin* out = source->addPin(videoType(MEDIASUBTYPE_RGB24, W, H, 24), 1, strideOf(W) * H);
    ASSERT_EQ(connect(out, filter->GetPin(0)), S_OK);
    auto* faces = static_cast<MultiPinOutputPin*>(filter->GetPin(2));
    struct Case {
        LONG buffers, size;
        HRESULT expected;
    } cases[] = {{1, 196, S_OK}, {1, 256, S_OK}, {2, 196, E_FAIL}, {1, 100, E_FAIL}};
    for (const Case& c : cases) {
        GrantingAllocator* allocator = new GrantingAllocator(c.buffers, c.size);
        allocator->NonDelegatingAddRef();
        ALLOCATOR_PROPERTIES request{0, 0, 1, 0};
        EXPECT_EQ(filter->DecideBufferSize(faces, allocator, &request), c.expected) << c.buffers << " x " << c.size;
        EXPECT_EQ(request.cBuffers, 1);
        EXPECT_EQ(request.cbBuffer, 196);
        allocator->NonDelegatingRelease();
    }
    disconnect(out);
}

// Every kind of model path: only a usable model of the mode's kind builds a tracker; anything else
// leaves a pass-through (video copied, face samples zeroed, no listener call), reported once, and the
// process goes on.
TEST(DetectionFilter, ModeAndModelPathTable) {
    const std::string dir = testhelp::freshDir();
    const std::string good = cascadeFile(dir, true);
    const std::string corrupt = dir + "/corrupt.cascade", truncated = dir + "/truncated.cascade",
                      emptyDir = dir + "/empty-model-dir";
    testhelp::writeText(corrupt, "this is no cascade at all, just words\n");
    {
        const std::string bytes = readFile(good);
        testhelp::writeText(truncated, bytes.substr(0, bytes.size() / 2));
    }
    mkdir(emptyDir.c_str(), 0700);
    const std::string multiView = testhelp::multiViewDir(true, 1, 5);

    struct Case {
        const char* what;
        int mode;
        std::string path;
        std::string events;  // over three frames
        int warnings;
    } cases[] = {
        {"no detection", 0, good, "frame-, frame-, frame-", 0},
        {"frontal cascade", 1, good, "created 64x48, frame+, faces, frame+, faces, frame+, faces", 0},
        {"multi-view directory", 2, multiView, "created 64x48, frame+, faces, frame+, faces, frame+, faces", 0},
        {"frontal, directory", 1, dir, "", 1},
        {"multi-view, file", 2, good, "", 1},
        {"missing", 1, dir + "/missing.cascade", "", 1},
        {"corrupt", 1, corrupt, "", 1},
        {"truncated", 1, truncated, "", 1},
        {"multi-view, no model files", 2, emptyDir, "", 1},
        {"unknown mode", 7, good, "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Recorder listener;
        DetectRig rig(W, -H);
        rig.detector()->SetListener(&listener);
        rig.detector()->SetModel(c.mode, c.path.c_str(), 0.0f, false);
        rig.detector()->SetSettings(everyFrameSettings());
        rig.run();
        CapturedMessages messages;
        std::vector<std::vector<unsigned char>> frames;
        for (int i = 0; i < 3; i++) {
            frames.push_back(texturedFrame(W, H, i));
            EXPECT_EQ(rig.push(frames.back()), S_OK);
        }
        EXPECT_EQ(listener.joined(), c.events);
        EXPECT_EQ(occurrences(messages.warnings, "frames pass through"), c.warnings) << messages.warnings;
        ASSERT_EQ(rig.video->arrivals.size(), 3u);
        ASSERT_EQ(rig.faces->arrivals.size(), 3u);
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ(rig.video->arrivals[i].bytes, frames[i]) << "frame " << i;
            EXPECT_EQ(rig.faces->arrivals[i].length, (LONG)FACE_SAMPLE);
            if (c.events.find("faces") == std::string::npos) {
                EXPECT_TRUE(allZero(rig.faces->arrivals[i].bytes));
            }
        }
        // A usable model given afterwards is taken at the next frame.
        if (c.mode != 0) {
            rig.detector()->SetModel(1, good.c_str(), 0.0f, false);
            EXPECT_EQ(rig.pushTextured(9), S_OK);
            EXPECT_EQ(listener.events.front(), "created 64x48");
        }
    }
}

TEST(DetectionFilter, FacesReachTheListenerAndTheFaceSample) {
    const std::string dir = testhelp::freshDir();
    Recorder listener;
    DetectRig rig(W, -H);
    rig.detector()->SetListener(&listener);
    EXPECT_EQ(listener.detector, rig.detector());
    rig.detector()->SetModel(1, cascadeFile(dir, true).c_str(), 0.0f, false);
    rig.detector()->SetSettings(everyFrameSettings());
    rig.run();
    ASSERT_EQ(rig.pushTextured(1), S_OK);
    ASSERT_EQ(listener.joined(), "created 64x48, frame+, faces");
    ASSERT_GE(listener.lastCount, 1);
    ASSERT_LE(listener.lastCount, 4);
    EXPECT_EQ(listener.frameWidth, W);
    EXPECT_EQ(listener.frameHeight, H);

    ASSERT_EQ(rig.faces->arrivals.size(), 1u);
    const std::vector<unsigned char>& sample = rig.faces->arrivals[0].bytes;
    ASSERT_EQ(sample.size(), FACE_SAMPLE);
    unsigned count = 0;
    FaceInfo* unpacked = nullptr;
    ASSERT_TRUE(vision::unpackFaceInfo(sample.data(), sample.size(), &count, &unpacked));
    ASSERT_EQ((int)count, listener.lastCount);
    for (unsigned i = 0; i < count; i++) {
        const FaceInfo& a = unpacked[i];
        const Recorder::Face& b = listener.lastFaces[i];
        EXPECT_EQ(a.bbx_x, b.bbx_x);
        EXPECT_EQ(a.bbx_y, b.bbx_y);
        EXPECT_EQ(a.bbx_width, b.bbx_width);
        EXPECT_GT(a.bbx_width, 0);
        EXPECT_EQ(a.left_eye_x, b.left_eye_x);
        EXPECT_EQ(a.score, b.score);
    }
    delete[] unpacked;
}

TEST(DetectionFilter, NoFaceDisabledAndUnconnectedFaceOutput) {
    const std::string dir = testhelp::freshDir();
    {
        // A cascade that takes no window: the tracker runs and reports no face; the sample is all zeros.
        Recorder listener;
        DetectRig rig(W, -H);
        rig.detector()->SetListener(&listener);
        rig.detector()->SetModel(1, cascadeFile(dir, false).c_str(), 0.0f, false);
        rig.run();
        ASSERT_EQ(rig.pushTextured(1), S_OK);
        EXPECT_EQ(listener.joined(), "created 64x48, frame+, noface");
        ASSERT_EQ(rig.faces->arrivals.size(), 1u);
        EXPECT_EQ(rig.faces->arrivals[0].bytes.size(), FACE_SAMPLE);
        EXPECT_TRUE(allZero(rig.faces->arrivals[0].bytes));
    }
    {
        // Disabled: the tracker is built but does not run; enabled again it does.
        Recorder listener;
        DetectRig rig(W, -H);
        rig.detector()->SetListener(&listener);
        rig.detector()->SetModel(1, cascadeFile(dir, true).c_str(), 0.0f, false);
        rig.detector()->SetSettings(everyFrameSettings());
        rig.detector()->SetEnabled(false);
        rig.run();
        ASSERT_EQ(rig.pushTextured(1), S_OK);
        rig.detector()->SetEnabled(true);
        ASSERT_EQ(rig.pushTextured(2), S_OK);
        EXPECT_EQ(listener.joined(), "created 64x48, frame-, frame+, faces");
        ASSERT_EQ(rig.faces->arrivals.size(), 2u);
        EXPECT_TRUE(allZero(rig.faces->arrivals[0].bytes));
        EXPECT_FALSE(allZero(rig.faces->arrivals[1].bytes));
    }
    {
        // Without a face output the tracker still runs and the listener still hears of it.
        Recorder listener;
        DetectRig rig(W, -H, /*connectVideo=*/true, /*connectFaces=*/false);
        rig.detector()->SetListener(&listener);
        rig.detector()->SetModel(1, cascadeFile(dir, true).c_str(), 0.0f, false);
        rig.run();
        ASSERT_EQ(rig.pushTextured(1), S_OK);
        EXPECT_EQ(listener.joined(), "created 64x48, frame+, faces");
        EXPECT_EQ(rig.video->arrivals.size(), 1u);
        EXPECT_EQ(rig.faces->arrivals.size(), 0u);
    }
}

// Rows padded to four bytes: the tracker is given the stride, so every pixel of a uniform frame is
// seen as moving against the all-black start, and no padding byte is taken for a pixel.
TEST(DetectionFilter, BottomUpPaddedFramesAreReadByStrideAndSentTopDown) {
    const std::string dir = testhelp::freshDir();
    const LONG w = 66, h = 40;  // 198 bytes of pixels in rows of 200
    Recorder listener;
    DetectRig rig(w, h);  // bottom-up
    rig.detector()->SetListener(&listener);
    rig.detector()->SetModel(1, cascadeFile(dir, false).c_str(), 0.0f, false);
    rig.run();
    std::vector<unsigned char> uniform((size_t)strideOf(w) * h, 0);
    for (int y = 0; y < h; y++) std::memset(&uniform[(size_t)y * strideOf(w)], 200, 3 * w);
    ASSERT_EQ(rig.push(uniform), S_OK);
    int motion = -1;
    rig.detector()->GetMotion(&motion);
    EXPECT_EQ(motion, w * h);
    // Only the padding changes: no pixel moved.
    for (int y = 0; y < h; y++) std::memset(&uniform[(size_t)y * strideOf(w) + 3 * w], 255, strideOf(w) - 3 * w);
    ASSERT_EQ(rig.push(uniform), S_OK);
    rig.detector()->GetMotion(&motion);
    EXPECT_EQ(motion, 0);

    const std::vector<unsigned char> frame = texturedFrame(w, h, 3, /*bottomUp=*/true);
    ASSERT_EQ(rig.push(frame), S_OK);
    ASSERT_EQ(rig.video->arrivals.size(), 3u);
    const std::vector<unsigned char>& out = rig.video->arrivals[2].bytes;
    ASSERT_EQ(out.size(), frame.size());
    for (int y = 0; y < h; y += 7)
        EXPECT_EQ(imageRow(out, w, h, y, false), imageRow(frame, w, h, y, true)) << "row " << y;
}

TEST(DetectionFilter, SamplesShorterThanTheFrameAreSkipped) {
    const std::string dir = testhelp::freshDir();
    Recorder listener;
    DetectRig rig(W, -H);
    rig.detector()->SetListener(&listener);
    rig.detector()->SetModel(1, cascadeFile(dir, true).c_str(), 0.0f, false);
    rig.run();
    EXPECT_EQ(rig.push(texturedFrame(W, H, 1), strideOf(W) * H - 1), S_OK);
    EXPECT_EQ(listener.joined(), "");
    EXPECT_EQ(rig.video->arrivals.size(), 0u);
    EXPECT_EQ(rig.faces->arrivals.size(), 0u);
    EXPECT_EQ(rig.pushTextured(1), S_OK);
    EXPECT_EQ(listener.joined(), "created 64x48, frame+, faces");
}

TEST(DetectionFilter, RebuildRules) {
    const std::string dir = testhelp::freshDir();
    const std::string good = cascadeFile(dir, true);
    Recorder listener;
    DetectRig rig(W, -H, true, true);
    IFaceDetector* d = rig.detector();
    d->SetListener(&listener);
    d->SetModel(1, good.c_str(), 0.0f, false);

    FaceTrackingSettings* live = reinterpret_cast<FaceTrackingSettings*>(1);
    d->GetSettings(&live);
    EXPECT_EQ(live, nullptr) << "no settings before the first tracker";

    // Two objects before the first frame: the first is deleted, the second applied.
    int deaths = 0;
    d->SetSettings(new CountedSettings(&deaths, 2));
    CountedSettings* second = new CountedSettings(&deaths, 3);
    second->modulo_detection.value = 1;
    second->pixel_sensitivity.value = 77;
    d->SetSettings(second);
    EXPECT_EQ(deaths, 1);
    rig.run();
    ASSERT_EQ(rig.pushTextured(1), S_OK);
    EXPECT_EQ(deaths, 2) << "the applied object is deleted once its values are copied";
    d->GetSettings(&live);
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(live->pixel_sensitivity.value, 77);
    EXPECT_EQ(live->max_faces, 3);

    // A new model waits for the next rebuild.
    size_t mark = listener.events.size();
    d->SetModel(1, (dir + "/missing").c_str(), 0.0f, false);
    ASSERT_EQ(rig.pushTextured(2), S_OK);
    EXPECT_EQ(listener.joined(mark), "frame+, faces");
    d->SetModel(1, good.c_str(), 0.0f, false);

    // A new maximum rebuilds from the defaults for the frame, kept within 1..4.
    struct MaxCase {
        int asked, kept;
    } maxima[] = {{9, 4}, {0, 1}, {-3, 1}, {2, 2}};
    for (const MaxCase& m : maxima) {
        mark = listener.events.size();
        d->SetMaxFaces(m.asked);
        ASSERT_EQ(rig.pushTextured(3), S_OK);
        EXPECT_EQ(listener.joined(mark).substr(0, 26), "reset, created 64x48, fram") << m.asked;
        d->GetSettings(&live);
        ASSERT_NE(live, nullptr);
        EXPECT_EQ(live->max_faces, m.kept) << m.asked;
        EXPECT_EQ(live->pixel_sensitivity.value, 30) << "the handed-over values are not reused";
        EXPECT_LE(listener.lastCount, m.kept);
    }

    // New settings on a live tracker rebuild it with their values.
    FaceTrackingSettings* third = everyFrameSettings(4);
    third->pixel_sensitivity.value = 55;
    mark = listener.events.size();
    d->SetSettings(third);
    ASSERT_EQ(rig.pushTextured(4), S_OK);
    EXPECT_EQ(listener.joined(mark), "reset, created 64x48, frame+, faces");
    d->GetSettings(&live);
    EXPECT_EQ(live->pixel_sensitivity.value, 55);

    // Frames of another size rebuild the tracker for that size, keeping the values it ran with.
    mark = listener.events.size();
    rig.reconnectInput(80, -60);
    ASSERT_EQ(rig.pushTextured(5), S_OK);
    EXPECT_EQ(listener.joined(mark), "reset, created 80x60, frame+, faces");
    d->GetSettings(&live);
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(live->width, 80);
    EXPECT_EQ(live->pixel_sensitivity.value, 55);
    EXPECT_EQ(live->modulo_detection.value, 1);
}

TEST(DetectionFilter, FramesTooSmallForTheWindowsPassThroughUntilTheSizeChanges) {
    // 64 x 30 frames cannot hold the default 38-pixel window. That once counted as a bad model and
    // the filter never tried again, even once the frames grew.
    const std::string dir = testhelp::freshDir();
    const std::string good = cascadeFile(dir, true);
    Recorder listener;
    DetectRig rig(W, -30, true, true);
    IFaceDetector* d = rig.detector();
    d->SetListener(&listener);
    d->SetModel(1, good.c_str(), 0.0f, false);
    rig.run();
    CapturedMessages messages;
    ASSERT_EQ(rig.pushTextured(1), S_OK);
    ASSERT_EQ(rig.pushTextured(2), S_OK);
    EXPECT_EQ(listener.joined(), "");
    EXPECT_EQ(occurrences(messages.warnings, "frames of 64x30 cannot hold a face window of 38 pixels"), 1)
        << messages.warnings;
    EXPECT_EQ(occurrences(messages.warnings, "cannot be used"), 0) << messages.warnings;

    rig.reconnectInput(W, -H);
    ASSERT_EQ(rig.pushTextured(3), S_OK);
    EXPECT_EQ(listener.joined().substr(0, 21), "created 64x48, frame+");
}

TEST(DetectionFilter, DestructionTellsTheListenerTheTrackerGoes) {
    const std::string dir = testhelp::freshDir();
    Recorder listener;
    auto rig = std::make_unique<DetectRig>(W, -H);
    rig->detector()->SetListener(&listener);
    rig->detector()->SetModel(1, cascadeFile(dir, false).c_str(), 0.0f, false);
    rig->run();
    ASSERT_EQ(rig->pushTextured(1), S_OK);
    rig->detachListener = false;
    listener.events.clear();
    rig.reset();
    EXPECT_EQ(listener.joined(), "reset");
}
