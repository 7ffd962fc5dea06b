// The graph runtime end to end: replay camera -> smart tee -> infinite tee -> renderer.
#include "graph_fixtures.h"
#include "jpeg_frames.h"

#include <cstdlib>
#include <new>

namespace {

const HWND kOwner = reinterpret_cast<HWND>(0x5150);

struct Graph {
    IGraphBuilder* builder = nullptr;
    IMediaControl* control = nullptr;
    IBaseFilter* camera = nullptr;
    IBaseFilter* smartTee = nullptr;
    IBaseFilter* infTee = nullptr;
    IBaseFilter* renderer = nullptr;

    void release() {
        safeRelease(control);
        safeRelease(camera);
        safeRelease(smartTee);
        safeRelease(infTee);
        safeRelease(renderer);
        safeRelease(builder);
    }
};

// Connects the first unconnected output of `up` (or the given pin) to the first input of `down`.
HRESULT connect(IGraphBuilder* g, IPin* out, IBaseFilter* down) {
    IPin* in = pinOf(down, PINDIR_INPUT, 0);
    HRESULT hr = g->Connect(out, in);
    in->Release();
    return hr;
}

// A graph holding the named camera only; the test adds the rest.
struct CameraGraph {
    IGraphBuilder* builder = nullptr;
    IMediaControl* control = nullptr;
    IBaseFilter* camera = nullptr;
    explicit CameraGraph(const std::string& name) {
        builder = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        if (builder) builder->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
        camera = findCamera(name);
        if (builder && camera && FAILED(builder->AddFilter(camera, L"Video Capture"))) safeRelease(camera);
    }
    ~CameraGraph() {
        safeRelease(control);
        safeRelease(camera);
        safeRelease(builder);
    }
    bool ok() const { return builder && control && camera; }
};

// The graph's video goes to the sink registered for that owner window.
void showIn(IGraphBuilder* builder, HWND owner) {
    IVideoWindow* window = nullptr;
    ASSERT_EQ(S_OK, builder->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&window)));
    window->put_Owner(reinterpret_cast<OAHWND>(owner));
    window->Release();
}

void build(Graph& g, const std::string& cameraName) {
    g.builder = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ASSERT_TRUE(g.builder);
    ASSERT_EQ(S_OK, g.builder->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&g.control)));
    g.camera = findCamera(cameraName);
    ASSERT_TRUE(g.camera) << cameraName;
    g.smartTee = create<IBaseFilter>(CLSID_SmartTee, IID_IBaseFilter);
    g.infTee = create<IBaseFilter>(CLSID_InfTee, IID_IBaseFilter);
    g.renderer = create<IBaseFilter>(CLSID_VideoRenderer, IID_IBaseFilter);
    ASSERT_EQ(S_OK, g.builder->AddFilter(g.camera, L"Video Capture"));
    ASSERT_EQ(S_OK, g.builder->AddFilter(g.smartTee, L"Smart Tee"));
    ASSERT_EQ(S_OK, g.builder->AddFilter(g.infTee, L"Video infinite Tee"));
    ASSERT_EQ(S_OK, g.builder->AddFilter(g.renderer, L"Renderer"));

    IPin* cam = pinOf(g.camera, PINDIR_OUTPUT, 0);
    ASSERT_EQ(S_OK, connect(g.builder, cam, g.smartTee));
    cam->Release();
    IPin* preview = pinOf(g.smartTee, PINDIR_OUTPUT, 1);
    EXPECT_EQ(L"Preview", pinName(preview));
    ASSERT_EQ(S_OK, connect(g.builder, preview, g.infTee));
    preview->Release();
    EXPECT_EQ(2, pinCount(g.infTee));
    IPin* teeOut = pinOf(g.infTee, PINDIR_OUTPUT, 0);
    ASSERT_EQ(S_OK, connect(g.builder, teeOut, g.renderer));
    teeOut->Release();
    // The infinite tee has grown a free output for the next connection.
    ASSERT_EQ(3, pinCount(g.infTee));
    IPin* spare = pinOf(g.infTee, PINDIR_OUTPUT, 1);
    EXPECT_FALSE(connected(spare));
    EXPECT_EQ(L"Output2", pinName(spare));
    spare->Release();
}

}  // namespace

TEST_F(GraphTest, ReplayCameraThroughTeesToRendererSinkRunsStopsAndLeavesNothingBehind) {
    frames("clip", 16, 12, 3);
    declare("Desk Replay | clip | rate=100\n");
    RecordingSink sink;
    tarvelo::graph::registerFrameSink(kOwner, &sink);
    const int threadsBefore = threadCount();
    {
        Graph g;
        build(g, "Desk Replay");
        if (HasFatalFailure()) return;

        IVideoWindow* window = nullptr;
        ASSERT_EQ(S_OK, g.builder->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&window)));
        EXPECT_EQ(S_OK, window->put_Owner(reinterpret_cast<OAHWND>(kOwner)));
        EXPECT_EQ(S_OK, window->put_WindowStyle(0x44000000));
        EXPECT_EQ(S_OK, window->put_MessageDrain(reinterpret_cast<OAHWND>(kOwner)));
        EXPECT_EQ(S_OK, window->put_Top(0));
        EXPECT_EQ(S_OK, window->put_Left(4));
        EXPECT_EQ(S_OK, window->put_Width(16));
        EXPECT_EQ(S_OK, window->put_Height(12));
        window->Release();
        IBasicVideo* video = nullptr;
        ASSERT_EQ(S_OK, g.builder->QueryInterface(IID_IBasicVideo, reinterpret_cast<void**>(&video)));
        LONG w = 0, h = 0;
        EXPECT_EQ(S_OK, video->GetVideoSize(&w, &h));
        EXPECT_EQ(16, w);
        EXPECT_EQ(12, h);
        video->Release();

        for (int round = 0; round < 2; ++round) {  // a stopped graph runs again
            const size_t before = sink.count();
            ASSERT_EQ(S_OK, g.control->Run());
            OAFilterState state = -1;
            g.control->GetState(0, &state);
            EXPECT_EQ(State_Running, state);
            ASSERT_TRUE(eventually([&] { return sink.count() >= before + 3; })) << "no frames reached the sink";
            ASSERT_EQ(S_OK, g.control->Stop());
            // Stop is synchronous: every streaming and presentation thread has ended (at most the
            // threads there were: one that an earlier test joined may leave /proc meanwhile).
            EXPECT_LE(settledThreadCount(threadsBefore), threadsBefore);
            const size_t atStop = sink.count();
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            EXPECT_EQ(atStop, sink.count());
            EXPECT_EQ(round + 1, sink.detaches.load());
        }
        g.release();
    }
    {
        std::lock_guard<std::mutex> l(sink.mutex);
        const tarvelo::graph::VideoFrame& f = sink.frames.front();
        EXPECT_EQ(16, f.width);
        EXPECT_EQ(12, f.height);
        EXPECT_EQ(24, f.bitCount);
        EXPECT_EQ(48u, f.stride);
        // Top-down rows whatever the stream's order: the bright half is on top.
        EXPECT_EQ(200, f.pixels[0]);
        EXPECT_EQ(50, f.pixels[11 * f.stride]);
        EXPECT_EQ(4, f.window.left);
        EXPECT_EQ(20, f.window.right);
        EXPECT_EQ(0x44000000, f.style);
        EXPECT_EQ(kOwner, f.messageDrain);
        for (HWND o : sink.owners) EXPECT_EQ(kOwner, o);
        // Frames come on the renderer's own thread, never on the caller's.
        for (std::thread::id t : sink.threads) EXPECT_NE(std::this_thread::get_id(), t);
    }
    tarvelo::graph::unregisterFrameSink(kOwner);
    EXPECT_EQ(0, liveObjects()) << "objects left: " << ::testing::PrintToString(tarvelo::streams::liveObjectNames());
}

TEST_F(GraphTest, ReleasingARunningGraphStopsItAndRemovesEveryFilter) {
    frames("clip", 8, 8, 2);
    declare("Cam | clip | rate=200\n");
    RecordingSink sink;
    tarvelo::graph::registerFrameSink(kOwner, &sink);
    const int threadsBefore = threadCount();
    Graph g;
    build(g, "Cam");
    if (HasFatalFailure()) return;
    showIn(g.builder, kOwner);
    ASSERT_EQ(S_OK, g.control->Run());
    ASSERT_TRUE(eventually([&] { return sink.count() >= 1; }));
    IBaseFilter* tee = g.smartTee;
    tee->AddRef();
    g.release();  // the graph goes while running
    // At most the threads there were: one an earlier test joined may leave /proc meanwhile.
    EXPECT_LE(settledThreadCount(threadsBefore), threadsBefore);
    // The tee left the graph disconnected on every pin.
    for (int i = 0; i < 2; ++i) {
        IPin* p = pinOf(tee, PINDIR_OUTPUT, i);
        EXPECT_FALSE(connected(p));
        p->Release();
    }
    FILTER_INFO info{};
    tee->QueryFilterInfo(&info);
    EXPECT_EQ(nullptr, info.pGraph);
    tee->Release();
    tarvelo::graph::unregisterFrameSink(kOwner);
    EXPECT_EQ(0, liveObjects());
}

// Frames that declare a huge size (the one that ended the program) are dropped before anything
// of their size is allocated, with one line for a run of them, and the stream goes on: the frames
// after them, a good JPEG frame among them, reach the renderer. No error reaches the graph.
TEST_F(GraphTest, FramesDeclaringAnotherSizeAreDroppedWithOneLineARunAndTheStreamGoesOn) {
    const std::string folder = frames("clip", 16, 12, 1);
    const std::vector<uint8_t> huge = testutil::hugeDeclaredJpegFrame();
    for (int i = 0; i < 200; ++i) {
        char file[64];
        std::snprintf(file, sizeof file, "/frame%04d-huge.jpg", i + 1);
        writeFile(folder + file, std::string(huge.begin(), huge.end()));
    }
    const std::vector<uint8_t> grey(16 * 12 * 3, 90);
    const std::vector<uint8_t> good = testutil::encodeJpeg(grey.data(), 16, 12);
    writeFile(folder + "/frame9999.jpg", std::string(good.begin(), good.end()));
    declare("Cam | clip | rate=1000 pins=capture\n");
    RecordingSink sink;
    tarvelo::graph::registerFrameSink(kOwner, &sink);
    testing::internal::CaptureStderr();
    {
        CameraGraph g("Cam");
        ASSERT_TRUE(g.ok());
        IGraphBuilder* builder = g.builder;
        IMediaControl* control = g.control;
        IBaseFilter* camera = g.camera;
        IBaseFilter* renderer = create<IBaseFilter>(CLSID_VideoRenderer, IID_IBaseFilter);
        ASSERT_EQ(S_OK, builder->AddFilter(renderer, L"Renderer"));
        IPin* out = pinOf(camera, PINDIR_OUTPUT, 0);
        ASSERT_EQ(S_OK, connect(builder, out, renderer));
        out->Release();
        showIn(builder, kOwner);
        ASSERT_EQ(S_OK, control->Run());
        // Two passes over the 200 bad frames, and the good JPEG frame seen.
        const auto seenGreyJpeg = [&] {
            std::lock_guard<std::mutex> l(sink.mutex);
            for (const auto& f : sink.frames)
                if (std::abs(f.pixels[0] - 90) < 8) return true;
            return false;
        };
        EXPECT_TRUE(eventually([&] { return sink.count() >= 5 && seenGreyJpeg(); }, 30));
        EXPECT_EQ(S_OK, control->Stop());
        for (const auto& e : tarvelo::graph::graphEvents(builder)) EXPECT_NE(EC_ERRORABORT, e.code);
        renderer->Release();
    }
    const std::string said = testing::internal::GetCapturedStderr();
    int lines = 0;
    const std::string line = "camera 'Cam': dropping damaged frames: the frame declares 65500x65500, the stream is 16x12\n";
    for (size_t at = said.find(line); at != std::string::npos; at = said.find(line, at + 1)) ++lines;
    EXPECT_GE(lines, 2) << said;
    EXPECT_LT(lines, 200) << "a line for each bad frame: " << said;
    tarvelo::graph::unregisterFrameSink(kOwner);
    EXPECT_EQ(0, liveObjects());
}

// A sink that throws while the renderer presents: the renderer's error (EC_ERRORABORT with
// E_OUTOFMEMORY in the graph's events), not the process's end, and the graph still stops and goes.
TEST_F(GraphTest, AThrowOnAStreamingThreadIsTheFiltersErrorAndTheGraphStillStops) {
    frames("clip", 8, 8, 2);
    declare("Cam | clip | rate=200\n");
    struct ThrowingSink : RecordingSink {
        void presentFrame(HWND owner, const tarvelo::graph::VideoFrame& frame) override {
            RecordingSink::presentFrame(owner, frame);
            throw std::bad_alloc();
        }
    } sink;
    tarvelo::graph::registerFrameSink(kOwner, &sink);
    testing::internal::CaptureStderr();
    Graph g;
    build(g, "Cam");
    if (HasFatalFailure()) return;
    showIn(g.builder, kOwner);
    ASSERT_EQ(S_OK, g.control->Run());
    const auto aborted = [&] {
        for (const auto& e : tarvelo::graph::graphEvents(g.builder))
            if (e.code == EC_ERRORABORT && e.param1 == E_OUTOFMEMORY) return true;
        return false;
    };
    EXPECT_TRUE(eventually(aborted));
    EXPECT_EQ(S_OK, g.control->Stop());
    g.release();
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("video renderer: streaming stopped"));
    tarvelo::graph::unregisterFrameSink(kOwner);  // returns: the throw left no call marked busy
    EXPECT_EQ(1u, sink.count());
    EXPECT_EQ(0, liveObjects());
}

// A filter downstream that throws from Receive: straight after the camera, the capture thread's
// error (its stream ends); behind a tee, the tee's, while the camera streams on. Either way the
// graph stops and goes: the samples the throws passed by went back to their allocators (a kept
// one left the tee waiting for a buffer for ever, and Stop with it).
TEST_F(GraphTest, AThrowDownstreamIsTheErrorOfTheCameraOrTheTeeThatCalledIt) {
    frames("clip", 8, 8, 2);
    declare("Cam | clip | rate=200 pins=capture\n");
    for (const bool throughTee : {false, true}) {
        testing::internal::CaptureStderr();
        CameraGraph g("Cam");
        ASSERT_TRUE(g.ok());
        IGraphBuilder* builder = g.builder;
        IMediaControl* control = g.control;
        IBaseFilter* camera = g.camera;
        auto* sink = new SizedSink(8, 8);
        sink->throwOnReceive = true;
        ASSERT_EQ(S_OK, builder->AddFilter(sink, L"Sink"));
        IPin* out = pinOf(camera, PINDIR_OUTPUT, 0);
        IBaseFilter* tee = nullptr;
        if (throughTee) {
            tee = create<IBaseFilter>(CLSID_SmartTee, IID_IBaseFilter);
            ASSERT_EQ(S_OK, builder->AddFilter(tee, L"Smart Tee"));
            ASSERT_EQ(S_OK, connect(builder, out, tee));
            out->Release();
            out = pinOf(tee, PINDIR_OUTPUT, 0);
        }
        ASSERT_EQ(S_OK, connect(builder, out, sink));
        out->Release();
        ASSERT_EQ(S_OK, control->Run());
        const auto aborted = [&] {
            for (const auto& e : tarvelo::graph::graphEvents(builder))
                if (e.code == EC_ERRORABORT && e.param1 == E_UNEXPECTED) return true;
            return false;
        };
        EXPECT_TRUE(eventually(aborted)) << throughTee;
        // Behind a tee the camera goes on delivering; straight after it, its stream has ended.
        const int seen = sink->received;
        if (throughTee) {
            EXPECT_TRUE(eventually([&] { return sink->received > seen + 2; }));
        }
        EXPECT_EQ(S_OK, control->Stop());
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, said.find(std::string(throughTee ? "tee" : "camera 'Cam'") +
                                               ": streaming stopped (0x8000FFFF): sized sink refuses"))
            << said;
        if (tee) tee->Release();
        sink->Release();
    }
    EXPECT_EQ(0, liveObjects());
}

TEST_F(GraphTest, BusyCameraFailsRunAndLeavesTheGraphStopped) {
    frames("clip", 8, 8, 1);
    declare("Held Elsewhere | clip | fail=busy\n");
    const int threadsBefore = threadCount();
    Graph g;
    build(g, "Held Elsewhere");
    if (HasFatalFailure()) return;
    HRESULT hr = g.control->Run();
    EXPECT_EQ(HRESULT_FROM_WIN32(170), hr);  // ERROR_BUSY
    OAFilterState state = -1;
    g.control->GetState(0, &state);
    EXPECT_EQ(State_Stopped, state);
    FILTER_STATE rendererState = State_Running;
    g.renderer->GetState(0, &rendererState);
    EXPECT_EQ(State_Stopped, rendererState);
    // At most the threads there were: one an earlier test joined may leave /proc meanwhile.
    EXPECT_LE(settledThreadCount(threadsBefore), threadsBefore);
    EXPECT_EQ(S_OK, g.control->Stop());
    g.release();
    EXPECT_EQ(0, liveObjects());
}

TEST_F(GraphTest, FailedConnectLeavesBothPinsFree) {
    frames("clip", 16, 12, 1);
    declare("Small | clip\nTwoSizes | clip | sizes=320x240\n");
    IGraphBuilder* g = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    IBaseFilter* small = findCamera("Small");
    IBaseFilter* two = findCamera("TwoSizes");
    ASSERT_TRUE(small && two);
    auto* sized = new SizedSink(320, 240);
    IBaseFilter* smartTee = create<IBaseFilter>(CLSID_SmartTee, IID_IBaseFilter);
    IBaseFilter* renderer = create<IBaseFilter>(CLSID_VideoRenderer, IID_IBaseFilter);
    ASSERT_EQ(S_OK, g->AddFilter(small, L"Small"));
    ASSERT_EQ(S_OK, g->AddFilter(two, L"Two"));
    ASSERT_EQ(S_OK, g->AddFilter(sized, L"Sized"));
    ASSERT_EQ(S_OK, g->AddFilter(smartTee, L"Smart Tee"));
    ASSERT_EQ(S_OK, g->AddFilter(renderer, L"Renderer"));
    IBaseFilter* namesake = create<IBaseFilter>(CLSID_InfTee, IID_IBaseFilter);
    EXPECT_EQ(VFW_S_DUPLICATE_NAME, g->AddFilter(namesake, L"Renderer"));

    struct Case {
        const char* what;
        IPin* out;
        IPin* in;
    };
    IPin* smallOut = pinOf(small, PINDIR_OUTPUT, 0);
    IPin* sizedIn = pinOf(sized, PINDIR_INPUT, 0);
    IPin* teeOut = pinOf(smartTee, PINDIR_OUTPUT, 0);
    IPin* rendererIn = pinOf(renderer, PINDIR_INPUT, 0);
    const Case cases[] = {
        {"16x12 camera into a 320x240-only input", smallOut, sizedIn},
        {"tee output without its input connected", teeOut, rendererIn},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VFW_E_CANNOT_CONNECT, g->Connect(c.out, c.in)) << c.what;
        IPin* peer = reinterpret_cast<IPin*>(1);
        EXPECT_EQ(VFW_E_NOT_CONNECTED, c.out->ConnectedTo(&peer)) << c.what;
        EXPECT_EQ(nullptr, peer) << c.what;
        EXPECT_EQ(VFW_E_NOT_CONNECTED, c.in->ConnectedTo(&peer)) << c.what;
    }
    // The camera that also offers 320x240 connects at that size, after its own size was refused.
    IPin* twoOut = pinOf(two, PINDIR_OUTPUT, 0);
    EXPECT_EQ(S_OK, g->Connect(twoOut, sizedIn));
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(S_OK, twoOut->ConnectionMediaType(&mt));
    EXPECT_EQ(320, reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biWidth);
    FreeMediaType(mt);
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, g->Connect(smallOut, sizedIn));
    // A pin of a filter outside the graph is refused.
    IBaseFilter* outside = create<IBaseFilter>(CLSID_VideoRenderer, IID_IBaseFilter);
    IPin* outsideIn = pinOf(outside, PINDIR_INPUT, 0);
    EXPECT_EQ(VFW_E_NOT_IN_GRAPH, g->Connect(smallOut, outsideIn));
    // Removing a filter disconnects its pins and their peers.
    EXPECT_EQ(S_OK, g->RemoveFilter(sized));
    EXPECT_FALSE(connected(twoOut));
    EXPECT_FALSE(connected(sizedIn));
    EXPECT_EQ(VFW_E_NOT_FOUND, g->RemoveFilter(sized));

    for (IPin* p : {smallOut, sizedIn, teeOut, rendererIn, twoOut, outsideIn}) p->Release();
    for (IUnknown* u : std::initializer_list<IUnknown*>{small, two, sized, smartTee, renderer, outside, namesake, g}) u->Release();
    EXPECT_EQ(0, liveObjects()) << ::testing::PrintToString(tarvelo::streams::liveObjectNames());
}

TEST_F(GraphTest, RendererTakesRgb24AndRgb32InEitherRowOrder) {
    IBaseFilter* renderer = create<IBaseFilter>(CLSID_VideoRenderer, IID_IBaseFilter);
    IPin* in = pinOf(renderer, PINDIR_INPUT, 0);
    struct Case {
        GUID subtype;
        WORD bits;
        LONG height;
        bool accepted;
    };
    const Case cases[] = {
        {MEDIASUBTYPE_RGB24, 24, 120, true},  {MEDIASUBTYPE_RGB24, 24, -120, true},
        {MEDIASUBTYPE_RGB32, 32, 120, true},  {MEDIASUBTYPE_RGB32, 32, -120, true},
        {MEDIASUBTYPE_RGB24, 32, 120, false}, {MEDIASUBTYPE_YUY2, 16, 120, false},
        {MEDIASUBTYPE_RGB565, 16, 120, false}, {MEDIASUBTYPE_RGB24, 24, 0, false},
    };
    for (const Case& c : cases) {
        CMediaType mt;
        mt.InitMediaType();
        mt.SetType(&MEDIATYPE_Video);
        mt.SetSubtype(&c.subtype);
        mt.SetFormatType(&FORMAT_VideoInfo);
        auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih->bmiHeader.biWidth = 160;
        vih->bmiHeader.biHeight = c.height;
        vih->bmiHeader.biBitCount = c.bits;
        vih->bmiHeader.biPlanes = 1;
        EXPECT_EQ(c.accepted, in->QueryAccept(&mt) == S_OK) << c.bits << " bits, height " << c.height;
    }
    // Window properties need a connected input, as on the platform.
    IVideoWindow* window = nullptr;
    ASSERT_EQ(S_OK, renderer->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&window)));
    EXPECT_EQ(VFW_E_NOT_CONNECTED, window->put_Owner(0));
    window->Release();
    IBasicVideo* video = nullptr;
    ASSERT_EQ(S_OK, renderer->QueryInterface(IID_IBasicVideo, reinterpret_cast<void**>(&video)));
    LONG w = 7, h = 7;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, video->GetVideoSize(&w, &h));
    EXPECT_EQ(7, w);
    video->Release();
    in->Release();
    renderer->Release();
    // A graph without a renderer has no video size to give.
    IGraphBuilder* g = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    g->QueryInterface(IID_IBasicVideo, reinterpret_cast<void**>(&video));
    EXPECT_TRUE(FAILED(video->GetVideoSize(&w, &h)));
    video->Release();
    g->Release();
    EXPECT_EQ(0, liveObjects());
}

TEST_F(GraphTest, StateChangesGoDownstreamFirstAndStopGoesUpstreamFirst) {
    std::vector<std::string> log;
    auto* source = new Relay("A", &log, false, true);
    auto* middle = new Relay("B", &log, true, true);
    auto* sink = new Relay("C", &log, true, false);
    IGraphBuilder* g = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    // Added in an order of their own, so that the graph's order is seen to come from the connections.
    ASSERT_EQ(S_OK, g->AddFilter(middle, L"B"));
    ASSERT_EQ(S_OK, g->AddFilter(sink, L"C"));
    ASSERT_EQ(S_OK, g->AddFilter(source, L"A"));
    IPin* aOut = pinOf(source, PINDIR_OUTPUT, 0);
    IPin* bIn = pinOf(middle, PINDIR_INPUT, 0);
    IPin* bOut = pinOf(middle, PINDIR_OUTPUT, 0);
    IPin* cIn = pinOf(sink, PINDIR_INPUT, 0);
    ASSERT_EQ(S_OK, g->Connect(aOut, bIn));
    ASSERT_EQ(S_OK, g->Connect(bOut, cIn));
    IMediaControl* control = nullptr;
    g->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    ASSERT_EQ(S_OK, control->Run());
    EXPECT_EQ((std::vector<std::string>{"Pause C", "Pause B", "Pause A", "Run C", "Run B", "Run A"}), log);
    log.clear();
    // A connected graph refuses new connections while it runs.
    EXPECT_EQ(VFW_E_NOT_STOPPED, g->Connect(aOut, bIn));
    ASSERT_EQ(S_OK, control->Stop());
    EXPECT_EQ((std::vector<std::string>{"Stop A", "Stop B", "Stop C"}), log);
    for (IPin* p : {aOut, bIn, bOut, cIn}) p->Release();
    control->Release();
    log.clear();
    g->Release();  // a stopped graph lets its filters go without a state change
    EXPECT_EQ(std::vector<std::string>{}, log);
    source->Release();
    middle->Release();
    sink->Release();
    EXPECT_EQ(0, liveObjects());
}

TEST_F(GraphTest, FilterNamesAreMadeUniqueAndFitTheFilterInfo) {
    IGraphBuilder* g = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    const std::wstring longName(200, L'x');
    std::vector<IBaseFilter*> filters;
    std::vector<HRESULT> results;
    for (int i = 0; i < 3; ++i) {
        filters.push_back(create<IBaseFilter>(CLSID_InfTee, IID_IBaseFilter));
        results.push_back(g->AddFilter(filters.back(), longName.c_str()));
    }
    EXPECT_EQ((std::vector<HRESULT>{S_OK, VFW_S_DUPLICATE_NAME, VFW_S_DUPLICATE_NAME}), results);
    std::vector<std::wstring> names;
    for (IBaseFilter* f : filters) {
        FILTER_INFO info{};
        f->QueryFilterInfo(&info);
        if (info.pGraph) info.pGraph->Release();
        names.push_back(info.achName);
    }
    EXPECT_EQ(std::wstring(127, L'x'), names[0]);
    EXPECT_EQ(std::wstring(122, L'x') + L" 0001", names[1]);
    EXPECT_EQ(std::wstring(122, L'x') + L" 0002", names[2]);
    IBaseFilter* found = nullptr;
    EXPECT_EQ(S_OK, g->FindFilterByName(names[2].c_str(), &found));
    EXPECT_EQ(filters[2], found);
    found->Release();
    EXPECT_EQ(E_INVALIDARG, g->AddFilter(filters[0], L"again"));
    for (IBaseFilter* f : filters) f->Release();
    g->Release();
    EXPECT_EQ(0, liveObjects());
}

TEST_F(GraphTest, RemovingAFilterFromARunningGraphStopsItAndFreesThePeers) {
    frames("clip", 8, 8, 2);
    declare("Cam | clip | rate=200\n");
    const int threadsBefore = threadCount();
    Graph g;
    build(g, "Cam");
    if (HasFatalFailure()) return;
    ASSERT_EQ(S_OK, g.control->Run());
    EXPECT_EQ(S_OK, g.builder->RemoveFilter(g.infTee));
    OAFilterState state = -1;
    g.control->GetState(0, &state);
    EXPECT_EQ(State_Stopped, state);
    // At most the threads there were: one an earlier test joined may leave /proc meanwhile.
    EXPECT_LE(settledThreadCount(threadsBefore), threadsBefore);
    IPin* preview = pinOf(g.smartTee, PINDIR_OUTPUT, 1);
    IPin* rendererIn = pinOf(g.renderer, PINDIR_INPUT, 0);
    EXPECT_FALSE(connected(preview));
    EXPECT_FALSE(connected(rendererIn));
    preview->Release();
    rendererIn->Release();
    // The rest runs again without the removed tee.
    EXPECT_EQ(S_OK, g.control->Run());
    EXPECT_EQ(S_OK, g.control->Stop());
    g.release();
    EXPECT_EQ(0, liveObjects());
}

TEST_F(GraphTest, PausedGraphStopsDeliveringAndResumesOnRun) {
    frames("clip", 8, 8, 2);
    declare("Cam | clip | rate=200\n");
    RecordingSink sink;
    tarvelo::graph::registerFrameSink(kOwner, &sink);
    Graph g;
    build(g, "Cam");
    if (HasFatalFailure()) return;
    showIn(g.builder, kOwner);
    for (int round = 0; round < 5; ++round) {
        ASSERT_EQ(S_OK, g.control->Run());
        const size_t before = sink.count();
        ASSERT_TRUE(eventually([&] { return sink.count() >= before + 2; })) << "round " << round;
        ASSERT_EQ(S_OK, g.control->Pause());
        // Paused, the camera delivers nothing; the renderer may still show the frame it holds.
        const size_t atPause = sink.count();
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        EXPECT_LE(sink.count(), atPause + 1);
        OAFilterState state = -1;
        g.control->GetState(0, &state);
        EXPECT_EQ(State_Paused, state);
    }
    EXPECT_EQ(S_OK, g.control->Stop());
    g.release();
    tarvelo::graph::unregisterFrameSink(kOwner);
    EXPECT_EQ(0, liveObjects());
}
