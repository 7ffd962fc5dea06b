// Device discovery (system device enumerator, monikers, property bags), pin categories, the
// running object table, and a real webcam when the machine has one.
#include "graph_fixtures.h"

#include "platform/capture/V4l2Device.h"

TEST_F(GraphTest, NoCaptureDeviceGivesSFalseAndNoEnumerator) {
    ICreateDevEnum* devEnum = create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    IEnumMoniker* e = reinterpret_cast<IEnumMoniker*>(1);
    EXPECT_EQ(S_FALSE, devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &e, 0));
    EXPECT_EQ(nullptr, e);
    // A declaration file whose cameras all fail to parse declares nothing either.
    declare("just a name\n");
    e = reinterpret_cast<IEnumMoniker*>(1);
    EXPECT_EQ(S_FALSE, devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &e, 0));
    EXPECT_EQ(nullptr, e);
    devEnum->Release();
    EXPECT_EQ(0, liveObjects());
}

TEST_F(GraphTest, DeviceWalkListsDuplicatesAndSkipsDevicesThatFail) {
    frames("a", 8, 8, 1);
    frames("b", 8, 8, 1);
    declare(
        "No Bag | a | fail=properties\n"
        "No Name | a | fail=name\n"
        "Twin | a | fail=bind\n"
        "Twin | b\n"
        "Empty Folder | nowhere\n");
    std::vector<IMoniker*> devices;
    ASSERT_EQ(S_OK, videoDevices(devices));
    ASSERT_EQ(5u, devices.size());

    std::string name;
    IPropertyBag* bag = nullptr;
    EXPECT_TRUE(FAILED(devices[0]->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag))));
    EXPECT_EQ(nullptr, bag);
    EXPECT_TRUE(FAILED(friendlyName(devices[1], name)));

    std::vector<std::string> names;
    for (IMoniker* m : devices) {
        std::string n;
        if (SUCCEEDED(friendlyName(m, n))) names.push_back(n);
    }
    EXPECT_EQ((std::vector<std::string>{"Twin", "Twin", "Empty Folder"}), names);

    // The first "Twin" cannot be bound; the second can, and is the one with folder b.
    IBaseFilter* filter = reinterpret_cast<IBaseFilter*>(1);
    EXPECT_TRUE(FAILED(devices[2]->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter))));
    EXPECT_EQ(nullptr, filter);
    ASSERT_EQ(S_OK, devices[3]->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
    filter->Release();
    IBaseFilter* viaName = findCamera("Twin");
    ASSERT_TRUE(viaName);
    viaName->Release();
    // A folder without frames is listed but cannot become a filter; names match exactly.
    EXPECT_TRUE(FAILED(devices[4]->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter))));
    EXPECT_EQ(nullptr, findCamera("twin"));

    // Each device has a display name of its own.
    LPOLESTR a = nullptr, b = nullptr;
    ASSERT_EQ(S_OK, devices[2]->GetDisplayName(nullptr, nullptr, &a));
    ASSERT_EQ(S_OK, devices[3]->GetDisplayName(nullptr, nullptr, &b));
    EXPECT_NE(std::wstring(a), std::wstring(b));
    CoTaskMemFree(a);
    CoTaskMemFree(b);
    for (IMoniker* m : devices) m->Release();
    EXPECT_EQ(0, liveObjects()) << ::testing::PrintToString(tarvelo::streams::liveObjectNames());
}

TEST_F(GraphTest, CapturePinsTellTheirCategoryInDeclaredOrderWithTheCurrentFormatFirst) {
    frames("f", 40, 30, 1);
    declare(
        "Both | f | pins=capture,preview sizes=320x240\n"
        "Preview Only | f | pins=preview\n"
        "Capture Only | f | pins=capture\n");
    struct Case {
        const char* camera;
        std::vector<GUID> categories;
        std::vector<std::wstring> names;
    };
    const Case cases[] = {
        {"Both", {PIN_CATEGORY_CAPTURE, PIN_CATEGORY_PREVIEW}, {L"Capture", L"Preview"}},
        {"Preview Only", {PIN_CATEGORY_PREVIEW}, {L"Preview"}},
        {"Capture Only", {PIN_CATEGORY_CAPTURE}, {L"Capture"}},
    };
    for (const Case& c : cases) {
        IBaseFilter* cam = findCamera(c.camera);
        ASSERT_TRUE(cam) << c.camera;
        EXPECT_EQ(static_cast<int>(c.categories.size()), pinCount(cam)) << c.camera;
        for (size_t i = 0; i < c.categories.size(); ++i) {
            IPin* pin = pinOf(cam, PINDIR_OUTPUT, static_cast<int>(i));
            ASSERT_TRUE(pin);
            EXPECT_EQ(c.categories[i], pinCategory(pin)) << c.camera << " pin " << i;
            EXPECT_EQ(c.names[i], pinName(pin));
            pin->Release();
        }
        cam->Release();
    }
    // Formats: RGB24 with FORMAT_VideoInfo, the frames' own size first.
    IBaseFilter* cam = findCamera("Both");
    IPin* pin = pinOf(cam, PINDIR_OUTPUT, 0);
    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(S_OK, pin->EnumMediaTypes(&types));
    std::vector<std::pair<LONG, LONG>> sizes;
    AM_MEDIA_TYPE* mt = nullptr;
    while (types->Next(1, &mt, nullptr) == S_OK) {
        EXPECT_EQ(MEDIASUBTYPE_RGB24, mt->subtype);
        EXPECT_EQ(FORMAT_VideoInfo, mt->formattype);
        const BITMAPINFOHEADER& b = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader;
        EXPECT_EQ(24, b.biBitCount);
        sizes.emplace_back(b.biWidth, b.biHeight);
        DeleteMediaType(mt);
    }
    types->Release();
    EXPECT_EQ((std::vector<std::pair<LONG, LONG>>{{40, 30}, {320, 240}}), sizes);
    // The property set answers only the pin category.
    IKsPropertySet* ks = nullptr;
    ASSERT_EQ(S_OK, pin->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(&ks)));
    GUID g;
    DWORD returned = 0;
    EXPECT_TRUE(FAILED(ks->Get(IID_IUnknown, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &g, sizeof g, &returned)));
    EXPECT_TRUE(FAILED(ks->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_MEDIUM, nullptr, 0, &g, sizeof g, &returned)));
    EXPECT_TRUE(FAILED(ks->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &g, 8, &returned)));
    ks->Release();
    pin->Release();
    cam->Release();
    EXPECT_EQ(0, liveObjects());
}

TEST_F(GraphTest, RunningObjectTableKeepsRegisteredGraphsAliveUntilRevoked) {
    IRunningObjectTable* rot = nullptr;
    ASSERT_EQ(S_OK, GetRunningObjectTable(0, &rot));
    IGraphBuilder* graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    IMoniker* moniker = nullptr;
    ASSERT_EQ(S_OK, CreateItemMoniker(L"!", L"FilterGraph 0012abcd pid 00000f00", &moniker));
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph, moniker, &cookie));
    EXPECT_NE(0u, cookie);
    const auto names = tarvelo::graph::runningObjectNames();
    EXPECT_EQ((std::vector<std::string>{"!FilterGraph 0012abcd pid 00000f00"}), names);

    // The entry keeps the graph alive after its creator lets go.
    graph->Release();
    EXPECT_GT(liveObjects(), 0);
    EXPECT_EQ(S_OK, rot->IsRunning(moniker));
    IUnknown* found = nullptr;
    ASSERT_EQ(S_OK, rot->GetObject(moniker, &found));
    IMediaControl* control = nullptr;
    EXPECT_EQ(S_OK, found->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)));
    control->Release();
    found->Release();
    // A moniker made again from the same text names the same entry; the item compares without case.
    IMoniker* again = nullptr;
    CreateItemMoniker(L"!", L"FILTERGRAPH 0012ABCD PID 00000F00", &again);
    EXPECT_EQ(S_OK, again->IsEqual(moniker));
    EXPECT_EQ(S_OK, rot->IsRunning(again));
    again->Release();

    IEnumMoniker* running = nullptr;
    ASSERT_EQ(S_OK, rot->EnumRunning(&running));
    IMoniker* m = nullptr;
    int count = 0;
    while (running->Next(1, &m, nullptr) == S_OK) {
        ++count;
        m->Release();
    }
    running->Release();
    EXPECT_EQ(1, count);

    EXPECT_EQ(S_OK, rot->Revoke(cookie));
    EXPECT_TRUE(tarvelo::graph::runningObjectNames().empty());
    EXPECT_EQ(E_INVALIDARG, rot->Revoke(cookie));
    EXPECT_EQ(S_FALSE, rot->IsRunning(moniker));
    moniker->Release();
    rot->Release();
    EXPECT_EQ(0, liveObjects()) << ::testing::PrintToString(tarvelo::streams::liveObjectNames());
}

// Runs only where the machine has a capture-capable /dev/video device.
TEST_F(GraphTest, WebcamDeliversFramesWhenPresent) {
    ::unsetenv("TARVELO_V4L2_DEVICES");
    const auto webcams = tarvelo::capture::listV4l2Devices();
    if (webcams.empty()) GTEST_SKIP() << "no capture-capable /dev/video device";
    IBaseFilter* cam = findCamera(webcams.front().cardName);
    ASSERT_TRUE(cam) << webcams.front().path;
    IPin* out = pinOf(cam, PINDIR_OUTPUT, 0);
    EXPECT_EQ(PIN_CATEGORY_CAPTURE, pinCategory(out));
    IGraphBuilder* g = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    IBaseFilter* renderer = create<IBaseFilter>(CLSID_VideoRenderer, IID_IBaseFilter);
    g->AddFilter(cam, L"Video Capture");
    g->AddFilter(renderer, L"Renderer");
    IPin* in = pinOf(renderer, PINDIR_INPUT, 0);
    EXPECT_EQ(S_OK, g->Connect(out, in));
    const HWND owner = reinterpret_cast<HWND>(0x77);
    RecordingSink sink;
    tarvelo::graph::registerFrameSink(owner, &sink);
    IVideoWindow* window = nullptr;
    g->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&window));
    window->put_Owner(reinterpret_cast<OAHWND>(owner));
    window->Release();
    IMediaControl* control = nullptr;
    g->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    const HRESULT hr = control->Run();
    const bool busy = hr == HRESULT_FROM_WIN32(170);
    if (!busy) {
        EXPECT_EQ(S_OK, hr);
        EXPECT_TRUE(eventually([&] { return sink.count() >= 1; }, 15)) << "no frame from " << webcams.front().path;
        EXPECT_EQ(S_OK, control->Stop());
    }
    control->Release();
    in->Release();
    out->Release();
    renderer->Release();
    cam->Release();
    g->Release();
    tarvelo::graph::unregisterFrameSink(owner);
    if (busy) GTEST_SKIP() << webcams.front().path << " is held by another program";
}
