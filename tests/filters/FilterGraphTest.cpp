// The scaling and highlighting modules in a running graph: replay camera -> smart tee -> scaler ->
// highlighter -> renderer, stopped and run again with the graph's own one-buffer allocators.
#include "../capture/graph_fixtures.h"
#include "utilityfilters/highlighter/IHighlighting.h"
#include "utilityfilters/scaler/ITamsel.h"

namespace {

const HWND kOwner = reinterpret_cast<HWND>(0x7a11);

HRESULT registerModule(const char* file) {
    HMODULE module = LoadLibraryA(file);
    if (!module) return E_FAIL;
    auto reg = reinterpret_cast<LPFNDLLREGISTERSERVER>(GetProcAddress(module, "DllRegisterServer"));
    HRESULT hr = reg ? reg() : E_FAIL;
    FreeLibrary(module);
    return hr;
}

HRESULT join(IGraphBuilder* g, IBaseFilter* up, int output, IBaseFilter* down) {
    IPin* out = pinOf(up, PINDIR_OUTPUT, output);
    IPin* in = pinOf(down, PINDIR_INPUT, 0);
    HRESULT hr = out && in ? g->ConnectDirect(out, in, nullptr) : E_FAIL;
    if (out) out->Release();
    if (in) in->Release();
    return hr;
}

}  // namespace

TEST_F(GraphTest, ScalerAndHighlighterModulesStreamStopAndRestart) {
    ASSERT_EQ(S_OK, registerModule("Tamsel.ax"));
    ASSERT_EQ(S_OK, registerModule("Lustrel.ax"));
    frames("clip", 160, 120, 4, 180, 40);
    declare("Replay | clip | rate=120\n");
    RecordingSink sink;
    tarvelo::graph::registerFrameSink(kOwner, &sink);
    {
        IGraphBuilder* graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        ASSERT_TRUE(graph);
        IMediaControl* control = nullptr;
        ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)));
        IBaseFilter* camera = findCamera("Replay");
        ASSERT_TRUE(camera);
        IBaseFilter* tee = create<IBaseFilter>(CLSID_SmartTee, IID_IBaseFilter);
        IBaseFilter* scaler = create<IBaseFilter>(CLSID_ScalingFilter, IID_IBaseFilter);
        IBaseFilter* highlighter = create<IBaseFilter>(CLSID_HighlightingFilter, IID_IBaseFilter);
        IBaseFilter* renderer = create<IBaseFilter>(CLSID_VideoRenderer, IID_IBaseFilter);
        ASSERT_TRUE(tee && scaler && highlighter && renderer);
        ITamsel* tamsel = nullptr;
        ASSERT_EQ(S_OK, scaler->QueryInterface(IID_ITamsel, reinterpret_cast<void**>(&tamsel)));
        EXPECT_EQ(S_OK, tamsel->SetOutputResolution(320, 240));
        tamsel->Release();

        ASSERT_EQ(S_OK, graph->AddFilter(camera, L"Video Capture"));
        ASSERT_EQ(S_OK, graph->AddFilter(tee, L"Smart Tee"));
        ASSERT_EQ(S_OK, graph->AddFilter(scaler, L"Scaler"));
        ASSERT_EQ(S_OK, graph->AddFilter(highlighter, L"Highlighter"));
        ASSERT_EQ(S_OK, graph->AddFilter(renderer, L"Renderer"));
        ASSERT_EQ(S_OK, join(graph, camera, 0, tee));
        ASSERT_EQ(S_OK, join(graph, tee, 1, scaler));
        ASSERT_EQ(S_OK, join(graph, scaler, 0, highlighter));
        ASSERT_EQ(S_OK, join(graph, highlighter, 0, renderer));

        IVideoWindow* window = nullptr;
        ASSERT_EQ(S_OK, graph->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&window)));
        EXPECT_EQ(S_OK, window->put_Owner(reinterpret_cast<OAHWND>(kOwner)));
        window->Release();

        for (int round = 0; round < 3; ++round) {
            const size_t before = sink.count();
            ASSERT_EQ(S_OK, control->Run()) << round;
            ASSERT_TRUE(eventually([&] { return sink.count() >= before + 3; })) << "round " << round;
            ASSERT_EQ(S_OK, control->Stop());
        }
        {
            std::lock_guard<std::mutex> l(sink.mutex);
            const tarvelo::graph::VideoFrame& f = sink.frames.back();
            EXPECT_EQ(320, f.width);
            EXPECT_EQ(240, f.height);
            // Doubled and top-down: the bright half of the camera picture is on top.
            EXPECT_EQ(180, f.pixels[0]);
            EXPECT_EQ(180, f.pixels[119 * f.stride + 3 * 200]);
            EXPECT_EQ(40, f.pixels[120 * f.stride + 3 * 200]);
            EXPECT_EQ(40, f.pixels[239 * f.stride + 3 * 319 + 2]);
        }
        control->Release();
        for (IBaseFilter* f : {camera, tee, scaler, highlighter, renderer}) f->Release();
        graph->Release();
    }
    tarvelo::graph::unregisterFrameSink(kOwner);
    CoFreeUnusedLibraries();
    EXPECT_EQ(0, liveObjects()) << ::testing::PrintToString(tarvelo::streams::liveObjectNames());
}
