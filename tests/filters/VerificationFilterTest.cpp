#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "../detection/detect_helpers.h"
#include "filter_harness.h"
#include "verification/filter/VerificationFilter.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Sequence.h"
#include "visionlib/filter/FaceInfo.h"
#include "read_file.h"

using testutil::readFile;

using namespace harness;
using vision::FaceInfo;
using vision::MultiPinInputPin;
using vision::MultiPinOutputPin;

namespace {

const LONG W = 160, H = 120;
const int D = 18;

// A model file of G Gaussians on D inputs: equal weights, means offset by `shift`, wide variances.
void writeModel(const std::string& path, int G, float shift, int d = D) {
    vision::DiskXFile f(path.c_str(), "w");
    std::vector<float> params(G, std::log(1.0f / G));
    for (int g = 0; g < G; g++) {
        for (int j = 0; j < d; j++) params.push_back(shift + (float)((g * 7 + j) % 5) - 2.0f);
        for (int j = 0; j < d; j++) params.push_back(j == 0 ? 4000.0f : 50.0f + 10.0f * g);
    }
    f.taggedWrite(&G, 4, 1, "n_gaussians");
    f.taggedWrite(&d, 4, 1, "n_inputs");
    f.taggedWrite(params.data(), 4, (int)params.size(), "PARAMS");
}

std::vector<unsigned char> randomFrame(int seed, LONG width = W, LONG height = H) {
    std::mt19937 rng((unsigned)seed);
    std::vector<unsigned char> bytes((size_t)3 * width * height);
    for (auto& b : bytes) b = (unsigned char)(rng() & 0xFF);
    return bytes;
}

// A face information sample of `count` faces with their eyes on the frame, in a 196-byte buffer.
std::vector<unsigned char> faceSample(unsigned count) {
    std::vector<unsigned char> bytes(196, 0);
    FaceInfo faces[4];
    FaceInfo* pointers[4];
    for (unsigned i = 0; i < 4; i++) {
        faces[i].left_eye_x = 60 + (int)i;
        faces[i].left_eye_y = 50;
        faces[i].right_eye_x = 93 + (int)i;
        faces[i].right_eye_y = 50;
        faces[i].bbx_x = 45;
        faces[i].bbx_y = 37;
        faces[i].bbx_width = 64;
        faces[i].bbx_height = 64;
        pointers[i] = &faces[i];
    }
    vision::packFaceInfo(count, pointers, bytes.data(), bytes.size());
    return bytes;
}

struct Recorder : VerificationListener {
    std::vector<std::string> events;
    std::vector<float> scores;
    void onReady() override { events.push_back("ready"); }
    void onAccepted(float score, vision::Sequence* gray, int width, int height, FaceInfo* faces) override {
        record("accepted", score, gray, width, height, faces);
    }
    void onRejected(float score, vision::Sequence* gray, int width, int height, FaceInfo* faces) override {
        record("rejected", score, gray, width, height, faces);
    }
    void onNoFace() override { events.push_back("noface"); }
    void record(const char* what, float score, vision::Sequence* gray, int width, int height, FaceInfo* faces) {
        events.push_back(what);
        scores.push_back(score);
        ASSERT_NE(gray, nullptr);
        EXPECT_EQ(gray->n_frames, 1);
        ASSERT_NE(faces, nullptr);
        EXPECT_EQ(faces[0].left_eye_x, 60);
        EXPECT_EQ(width, expectedWidth);
        EXPECT_EQ(height, expectedHeight);
        EXPECT_EQ(gray->frame_size, width * height);
    }
    int expectedWidth = W, expectedHeight = H;
    // The events since the last call, joined.
    std::string take() {
        std::string s;
        for (const std::string& e : events) s += (s.empty() ? "" : ", ") + e;
        events.clear();
        return s;
    }
};

int occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

// video "Out0" -> "Video In", faces "Out1" -> "FaceInfo In"; "Unused" stays unconnected.
struct VerifyRig {
    Held<TestSource> source;
    Held<VerificationFilter> filter{nullptr, nullptr};
    SourcePin* video;
    SourcePin* faces;
    std::string dir, world, user;

    explicit VerifyRig(bool connectFaces = true) {
        video = source->addPin(videoType(MEDIASUBTYPE_RGB24, W, -H, 24), 1, 3 * W * H);
        faces = source->addPin(majorOnly(MEDIATYPE_FaceInfo), 1, 196);
        EXPECT_EQ(connect(video, filter->GetPin(0)), S_OK);
        if (connectFaces) {
            EXPECT_EQ(connect(faces, filter->GetPin(1)), S_OK);
        }
        dir = testhelp::freshDir();
        world = dir + "/world.model";
        user = dir + "/user.model";
        writeModel(world, 2, 0.0f);
        writeModel(user, 2, 1.5f);
        EXPECT_EQ(filter->Pause(), S_OK);
        EXPECT_EQ(source->Pause(), S_OK);
    }
    IFaceVerificator* verificator() { return filter.get(); }
    // Scores every face and rejects each, reporting to the listener.
    void rejectEveryFace(VerificationListener* listener) {
        verificator()->SetCallback(listener);
        ASSERT_EQ(verificator()->SetModels(user, world), S_OK);
        verificator()->SetMode(false);
        verificator()->SetThreshold(1e30f);
    }
    // Scores every face and accepts each, reporting to the listener.
    void acceptEveryFace(VerificationListener* listener) {
        verificator()->SetCallback(listener);
        ASSERT_EQ(verificator()->SetModels(user, world), S_OK);
        verificator()->SetMode(false);
        verificator()->SetThreshold(-1e30f);
    }
    // One frame with `count` faces (the face sample only when that input is connected).
    void frame(unsigned count = 1, int seed = 1) {
        const std::vector<unsigned char> pixels = randomFrame(seed);
        EXPECT_EQ(video->push(0, &pixels), S_OK);
        if (filter->GetPin(1)->IsConnected()) {
            const std::vector<unsigned char> sample = faceSample(count);
            EXPECT_EQ(faces->push(0, &sample), S_OK);
        }
    }
    ~VerifyRig() {
        source->Stop();
        filter->Stop();
        filter->SetCallback(nullptr);
        disconnect(video);
        disconnect(faces);
    }
};

}  // namespace

TEST(VerificationFilter, PinsAndTypes) {
    Held<VerificationFilter> filter(nullptr, nullptr);
    ASSERT_EQ(filter->GetPinCount(), 3);
    PIN_INFO info;
    const wchar_t* names[] = {L"Video In", L"FaceInfo In", L"Unused"};
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(filter->GetPin(i)->QueryPinInfo(&info), S_OK);
        EXPECT_EQ(std::wstring(info.achName), names[i]);
        EXPECT_EQ(info.dir, i < 2 ? PINDIR_INPUT : PINDIR_OUTPUT);
        if (info.pFilter) info.pFilter->Release();
    }
    auto* video = static_cast<MultiPinInputPin*>(filter->GetPin(0));
    auto* faces = static_cast<MultiPinInputPin*>(filter->GetPin(1));
    auto* out = static_cast<MultiPinOutputPin*>(filter->GetPin(2));

    CMediaType faceOther = majorOnly(MEDIATYPE_FaceInfo);
    faceOther.SetSubtype(&MEDIASUBTYPE_RGB24);
    CMediaType noFormat = videoType(MEDIASUBTYPE_RGB24, W, -H, 24);
    noFormat.SetFormatType(&FORMAT_None);
    struct Case {
        const char* what;
        CMediaType type;
        HRESULT video, faces, out;
    } cases[] = {
        {"RGB24 top-down", videoType(MEDIASUBTYPE_RGB24, W, -H, 24), S_OK, VFW_E_TYPE_NOT_ACCEPTED, S_OK},
        {"RGB24 bottom-up", videoType(MEDIASUBTYPE_RGB24, W, H, 24), S_OK, VFW_E_TYPE_NOT_ACCEPTED,
         VFW_E_TYPE_NOT_ACCEPTED},
        {"RGB24 without video format", noFormat, E_INVALIDARG, VFW_E_TYPE_NOT_ACCEPTED, E_INVALIDARG},
        {"RGB32", videoType(MEDIASUBTYPE_RGB32, W, -H, 32), VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED,
         VFW_E_TYPE_NOT_ACCEPTED},
        {"face information", majorOnly(MEDIATYPE_FaceInfo), VFW_E_TYPE_NOT_ACCEPTED, S_OK, VFW_E_TYPE_NOT_ACCEPTED},
        {"face information, any subtype", faceOther, VFW_E_TYPE_NOT_ACCEPTED, S_OK, VFW_E_TYPE_NOT_ACCEPTED},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(filter->CheckInputType(video, &c.type), c.video) << c.what;
        EXPECT_EQ(filter->CheckInputType(faces, &c.type), c.faces) << c.what;
        EXPECT_EQ(filter->CheckOutputType(out, &c.type), c.out) << c.what;
    }
    CMediaType offered;
    EXPECT_EQ(filter->GetMediaType(out, -1, &offered), E_INVALIDARG);
    EXPECT_EQ(filter->GetMediaType(out, 0, &offered), E_UNEXPECTED);
    ALLOCATOR_PROPERTIES request{0, 0, 1, 0};
    CMemAllocator* allocator = new CMemAllocator("allocator", nullptr, nullptr);
    allocator->NonDelegatingAddRef();
    EXPECT_EQ(filter->DecideBufferSize(out, allocator, &request), E_UNEXPECTED);

    Held<TestSource> source;
    SourcePin* src = source->addPin(videoType(MEDIASUBTYPE_RGB24, W, H, 24), 1, 3 * W * H);
    ASSERT_EQ(connect(src, filter->GetPin(0)), S_OK);
    ASSERT_EQ(filter->GetMediaType(out, 0, &offered), S_OK);
    EXPECT_EQ(vihOf(offered)->bmiHeader.biHeight, -H);
    EXPECT_EQ(vihOf(offered)->bmiHeader.biWidth, W);
    EXPECT_EQ(offered.GetSampleSize(), (ULONG)(3 * W * H));
    EXPECT_EQ(filter->GetMediaType(out, 1, &offered), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(filter->DecideBufferSize(out, allocator, &request), S_OK);
    EXPECT_EQ(request.cBuffers, 1);
    EXPECT_EQ(request.cbBuffer, 3 * W * H);
    allocator->NonDelegatingRelease();
    disconnect(src);

}

TEST(VerificationFilter, CallSequences) {
    Recorder listener;
    VerifyRig rig;
    IFaceVerificator* v = rig.verificator();
    v->SetCallback(&listener);
    EXPECT_EQ(listener.verificator, v);

    // Unconfigured: frames pass and nothing is said.
    rig.frame();
    rig.frame(0);
    EXPECT_EQ(listener.take(), "");

    // Ready comes first, then the frame's own result; one-shot stops after the first acceptance.
    ASSERT_EQ(v->SetModels(rig.user, rig.world), S_OK);
    v->SetThreshold(-1e30f);
    rig.frame();
    EXPECT_EQ(listener.take(), "ready, accepted");
    rig.frame();
    rig.frame(0);
    EXPECT_EQ(listener.take(), "");
    v->SetMode(true);
    rig.frame();
    EXPECT_EQ(listener.take(), "accepted");

    // Continuous: every frame is reported; a frame without faces says so.
    v->SetMode(false);
    rig.frame(1, 2);
    rig.frame(0);
    rig.frame(3, 4);
    EXPECT_EQ(listener.take(), "accepted, noface, accepted");
    v->SetThreshold(1e30f);
    rig.frame();
    EXPECT_EQ(listener.take(), "rejected");

    // New models: ready again before the next result.
    v->SetMode(true);
    ASSERT_EQ(v->SetModels(rig.user, rig.world), S_OK);
    rig.frame();
    EXPECT_EQ(listener.take(), "ready, rejected");
}

TEST(VerificationFilter, AScoreEqualToTheThresholdIsAccepted) {
    Recorder listener;
    VerifyRig rig;
    IFaceVerificator* v = rig.verificator();
    rig.acceptEveryFace(&listener);
    rig.frame(1, 7);
    ASSERT_EQ(listener.take(), "ready, accepted");
    const float score = listener.scores.back();
    ASSERT_TRUE(std::isfinite(score));
    EXPECT_NE(score, 0.0f) << "user and world models differ";
    v->SetThreshold(score);
    rig.frame(1, 7);
    v->SetThreshold(std::nextafter(score, INFINITY));
    rig.frame(1, 7);
    EXPECT_EQ(listener.take(), "accepted, rejected");
    EXPECT_EQ(listener.scores[1], score);
    EXPECT_EQ(listener.scores[2], score);
}

TEST(VerificationFilter, WithoutAListenerAnAcceptanceStillEndsOneShotScoring) {
    Recorder listener;
    VerifyRig rig;
    IFaceVerificator* v = rig.verificator();
    v->SetCallback(&listener);
    v->SetCallback(nullptr);
    EXPECT_EQ(listener.verificator, nullptr);
    ASSERT_EQ(v->SetModels(rig.user, rig.world), S_OK);
    v->SetThreshold(-1e30f);
    rig.frame();  // ready and accepted, unheard
    v->SetCallback(&listener);
    rig.frame();
    rig.frame(0);
    EXPECT_EQ(listener.take(), "");
    v->SetMode(true);
    rig.frame();
    EXPECT_EQ(listener.take(), "accepted");
}

TEST(VerificationFilter, FacesAreBoundedByTheSampleAndAMissingStreamMeansNoFace) {
    {
        Recorder listener;
        VerifyRig rig;
        rig.rejectEveryFace(&listener);
        rig.frame(4);
        // A count that 196 bytes cannot hold is a damaged sample, not a reason to read past it.
        std::vector<unsigned char> bad = faceSample(1);
        bad[0] = 5;
        const std::vector<unsigned char> pixels = randomFrame(1);
        EXPECT_EQ(rig.video->push(0, &pixels), S_OK);
        EXPECT_EQ(rig.faces->push(0, &bad), S_OK);
        bad[0] = 0xFF;
        bad[3] = 0x7F;
        EXPECT_EQ(rig.video->push(0, &pixels), S_OK);
        EXPECT_EQ(rig.faces->push(0, &bad), S_OK);
        // A record cut short by the sample's length counts as well.
        const std::vector<unsigned char> two = faceSample(2);
        EXPECT_EQ(rig.video->push(0, &pixels), S_OK);
        EXPECT_EQ(rig.faces->push(0, &two, AM_STREAM_MEDIA, 4 + 48 + 20), S_OK);
        EXPECT_EQ(listener.take(), "ready, rejected, noface, noface, noface");
    }
    {
        Recorder listener;
        VerifyRig rig(/*connectFaces=*/false);
        rig.verificator()->SetCallback(&listener);
        ASSERT_EQ(rig.verificator()->SetModels(rig.user, rig.world), S_OK);
        rig.frame();
        rig.frame();
        EXPECT_EQ(listener.take(), "ready, noface, noface");
    }
}

TEST(VerificationFilter, AFaceThatCannotBeScoredCostsItsFrameNotTheModels) {
    // Eyes thousands of pixels apart cannot be cut out. The models were once deleted for it and the
    // filter stayed silent for the rest of the lock.
    Recorder listener;
    VerifyRig rig;
    rig.rejectEveryFace(&listener);
    std::vector<unsigned char> far(196, 0);
    FaceInfo face;
    face.left_eye_x = 10;
    face.left_eye_y = 50;
    face.right_eye_x = 30010;
    face.right_eye_y = 50;
    FaceInfo* pointer = &face;
    vision::packFaceInfo(1, &pointer, far.data(), far.size());
    const std::vector<unsigned char> pixels = randomFrame(1);
    CapturedMessages messages;
    EXPECT_EQ(rig.video->push(0, &pixels), S_OK);
    EXPECT_EQ(rig.faces->push(0, &far), S_OK);
    rig.frame();
    rig.frame();
    EXPECT_EQ(listener.take(), "ready, noface, rejected, rejected");
    EXPECT_EQ(occurrences(messages.warnings, "the frame counts as one without a face"), 1) << messages.warnings;
}

// The face store cuts faces out of frames of one size: frames of another size get a store of their own.
TEST(VerificationFilter, FramesOfAnotherSizeAreVerifiedToo) {
    Recorder listener;
    VerifyRig rig;
    rig.acceptEveryFace(&listener);
    rig.frame();
    EXPECT_EQ(listener.take(), "ready, accepted");

    rig.source->Stop();
    rig.filter->Stop();
    disconnect(rig.video);
    const LONG w = 128, h = 96;  // smaller: the first store refuses these frames
    rig.video->type = videoType(MEDIASUBTYPE_RGB24, w, -h, 24);
    rig.video->size = 3 * w * h;
    ASSERT_EQ(connect(rig.video, rig.filter->GetPin(0)), S_OK);
    ASSERT_EQ(rig.filter->Pause(), S_OK);
    ASSERT_EQ(rig.source->Pause(), S_OK);
    listener.expectedWidth = w;
    listener.expectedHeight = h;
    const std::vector<unsigned char> pixels = randomFrame(3, w, h), sample = faceSample(1);
    EXPECT_EQ(rig.video->push(0, &pixels), S_OK);
    EXPECT_EQ(rig.faces->push(0, &sample), S_OK);
    EXPECT_EQ(listener.take(), "accepted");
}

// Models that cannot be used leave the filter unconfigured: no ready, no acceptance, one report, and
// the process goes on. Usable models given afterwards are taken.
TEST(VerificationFilter, UnusableModelsLeaveItUnconfigured) {
    Recorder listener;
    VerifyRig rig;
    IFaceVerificator* v = rig.verificator();
    v->SetCallback(&listener);
    v->SetThreshold(-1e30f);
    v->SetMode(false);
    const std::string& d = rig.dir;
    const std::string worldBytes = readFile(rig.world);
    testhelp::writeText(d + "/truncated.model", worldBytes.substr(0, worldBytes.size() - 30));
    testhelp::writeText(d + "/corrupt.model", "no model here\n");
    writeModel(d + "/three.model", 3, 1.0f);
    writeModel(d + "/narrow.model", 2, 1.0f, 12);
    struct Case {
        const char* what;
        std::string user, world;
    } cases[] = {
        {"missing world", rig.user, d + "/missing.model"},
        {"missing user", d + "/missing.model", rig.world},
        {"truncated world", rig.user, d + "/truncated.model"},
        {"truncated user", d + "/truncated.model", rig.world},
        {"corrupt world", rig.user, d + "/corrupt.model"},
        {"user of another size", d + "/three.model", rig.world},
        {"world of other features", d + "/narrow.model", d + "/narrow.model"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(v->SetModels(rig.user, rig.world), S_OK);
        rig.frame();
        EXPECT_EQ(listener.take(), "ready, accepted");
        CapturedMessages messages;
        EXPECT_EQ(v->SetModels(c.user, c.world), E_FAIL);
        rig.frame();
        rig.frame(0);
        EXPECT_EQ(listener.take(), "");
        EXPECT_EQ(occurrences(messages.warnings, "faces are not verified"), 1) << messages.warnings;
    }
}

namespace {

struct Detection {
    int x, y, size;
    float score;
};

// One frame whose face records are the given detections, each with the eyes the recorder expects.
std::vector<unsigned char> detectionSample(const std::vector<Detection>& detections) {
    std::vector<unsigned char> bytes(196, 0);
    FaceInfo faces[4];
    FaceInfo* pointers[4];
    for (size_t i = 0; i < detections.size(); i++) {
        faces[i].left_eye_x = 60;
        faces[i].left_eye_y = 50;
        faces[i].right_eye_x = 93;
        faces[i].right_eye_y = 50;
        faces[i].bbx_x = detections[i].x;
        faces[i].bbx_y = detections[i].y;
        faces[i].bbx_width = faces[i].bbx_height = detections[i].size;
        faces[i].score = detections[i].score;
        pointers[i] = &faces[i];
    }
    vision::packFaceInfo((unsigned)detections.size(), pointers, bytes.data(), bytes.size());
    return bytes;
}

}  // namespace

// Only a face of at least the detection bar that the tracker has held over two frames is scored;
// anything else is a frame without a face, however well it would score (every score is accepted here).
TEST(VerificationFilter, OnlyHeldFacesOfTheDetectionBarAreVerified) {
    const float bar = 0.025f;
    const Detection face{45, 37, 64, 0.03f}, moved{53, 37, 64, 0.03f}, elsewhere{100, 37, 40, 0.03f},
        weak{45, 37, 64, 0.024f}, notANumber{45, 37, 64, NAN};
    using Frame = std::vector<Detection>;
    struct Case {
        const char* what;
        std::vector<Frame> frames;
        std::string events;
    } cases[] = {
        {"held over two frames, moving a little", {{face}, {moved}, {face}}, "noface, accepted, accepted"},
        {"below the bar, held", {{weak}, {weak}, {weak}}, "noface, noface, noface"},
        {"held from a frame below the bar", {{weak}, {face}}, "noface, accepted"},
        {"in one frame only", {{}, {face}, {}, {face}}, "noface, noface, noface, noface"},
        {"a missing frame ends the run", {{face}, {face}, {}, {face}, {face}}, "noface, accepted, noface, noface, accepted"},
        {"jumping to another place", {{face}, {elsewhere}, {face}}, "noface, noface, noface"},
        {"only the first face is verified", {{face}, {elsewhere, face}, {face, elsewhere}}, "noface, noface, accepted"},
        {"a score that is not a number", {{notANumber}, {notANumber}}, "noface, noface"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Recorder listener;
        VerifyRig rig;
        rig.acceptEveryFace(&listener);
        ASSERT_EQ(rig.verificator()->SetFaceGate(bar, 2), S_OK);
        const std::vector<unsigned char> pixels = randomFrame(1);
        for (const Frame& f : c.frames) {
            const std::vector<unsigned char> sample = detectionSample(f);
            EXPECT_EQ(rig.video->push(0, &pixels), S_OK);
            EXPECT_EQ(rig.faces->push(0, &sample), S_OK);
        }
        EXPECT_EQ(listener.take(), "ready, " + c.events);
    }
}

// Frames that are not scored (one-shot after an acceptance) still count for holding a face.
TEST(VerificationFilter, FramesThatAreNotScoredStillHoldTheFace) {
    Recorder listener;
    VerifyRig rig;
    IFaceVerificator* v = rig.verificator();
    v->SetCallback(&listener);
    ASSERT_EQ(v->SetModels(rig.user, rig.world), S_OK);
    v->SetThreshold(-1e30f);
    v->SetFaceGate(0.0f, 2);
    const std::vector<unsigned char> pixels = randomFrame(1), sample = detectionSample({{45, 37, 64, 0.5f}});
    auto frame = [&] {
        EXPECT_EQ(rig.video->push(0, &pixels), S_OK);
        EXPECT_EQ(rig.faces->push(0, &sample), S_OK);
    };
    frame();
    frame();
    EXPECT_EQ(listener.take(), "ready, noface, accepted");
    frame();  // silent: one-shot
    v->SetMode(true);
    frame();
    EXPECT_EQ(listener.take(), "accepted");
}
