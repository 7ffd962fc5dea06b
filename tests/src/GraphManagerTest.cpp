#include "src/DSF_GraphManager.h"
#include "tests/common/app_fixtures.h"
#include "utilityfilters/scaler/ITamsel.h"

using DirectShowFramework::GraphManager;

namespace {

// A graph manager whose graph the test builds by hand.
class BareGraph : public GraphManager {
public:
    explicit BareGraph(Logger* logger) : GraphManager(logger) {}
    ~BareGraph() override { destroy(); }
    using GraphManager::addFilter;
    using GraphManager::createFilter;
};

IBaseFilter* makeFilter(REFCLSID clsid) {
    IBaseFilter* filter = nullptr;
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
    return filter;
}

// The lines from the first one equal to `from` on.
std::vector<std::string> linesFrom(RecordingLogger& logger, const std::string& from) {
    std::vector<std::string> all = logger.texts();
    auto it = std::find(all.begin(), all.end(), from);
    return std::vector<std::string>(it, all.end());
}

}  // namespace

TEST(GraphManager, FirstLiveManagerInitialisesComAndTheLastUninitialisesIt) {
    ASSERT_FALSE(tarvelo::com::isInitializedOnThisThread());
    auto* first = new GraphManager(nullptr);
    EXPECT_TRUE(tarvelo::com::isInitializedOnThisThread());
    auto* second = new GraphManager(nullptr);
    EXPECT_EQ(2u, GraphManager::liveInstances());
    delete first;
    EXPECT_TRUE(tarvelo::com::isInitializedOnThisThread());
    delete second;
    EXPECT_FALSE(tarvelo::com::isInitializedOnThisThread());
    EXPECT_EQ(0u, GraphManager::liveInstances());
}

TEST(GraphManager, GuidsInRegistryForm) {
    EXPECT_EQ("{FB6C4282-0353-11D1-905F-0000C0CC16BA}", GraphManager::guidToString(PIN_CATEGORY_PREVIEW));
    EXPECT_EQ("0X80040217", DirectShowFramework::hresultToString(VFW_E_CANNOT_CONNECT));
    EXPECT_EQ("0X1", DirectShowFramework::hresultToString(S_FALSE));
}

TEST(GraphManager, PinSearchesOnTheSmartTee) {
    RecordingLogger logger;
    BareGraph manager(&logger);
    IBaseFilter* tee = makeFilter(CLSID_SmartTee);
    ASSERT_TRUE(tee);

    IPin* preview = manager.getPin(tee, PINDIR_OUTPUT, 1);
    ASSERT_TRUE(preview);
    PIN_INFO info{};
    preview->QueryPinInfo(&info);
    info.pFilter->Release();
    EXPECT_EQ(std::wstring(L"Preview"), info.achName);
    preview->Release();
    EXPECT_EQ((std::vector<std::string>{"Search a specific pin of a filter: direction = OUTPUT, index = 1", "Pin found"}),
              logger.texts());
    EXPECT_EQ(1u, logger.lines[1].indent);

    logger.clear();
    EXPECT_EQ(nullptr, manager.getPin(tee, PINDIR_OUTPUT, 2));
    EXPECT_EQ(nullptr, manager.getPin(tee, PINDIR_INPUT, 1));
    EXPECT_EQ(2, logger.count("Pin not found"));

    IPin* input = manager.getUnconnectedPin(tee, PINDIR_INPUT);
    ASSERT_TRUE(input);
    input->Release();
    EXPECT_EQ("Search an unconnected pin of a filter: direction = INPUT", logger.lines[4].text);

    // The tee's pins tell no category.
    logger.clear();
    EXPECT_EQ(nullptr, manager.getPin(tee, PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW));
    EXPECT_EQ("Search a specific pin of a filter: direction = OUTPUT, category = {FB6C4282-0353-11D1-905F-0000C0CC16BA}",
              logger.lines[0].text);
    EXPECT_TRUE(logger.has("ERROR: The pin does not support IKsPropertySet"));
    EXPECT_EQ("Pin not found", logger.lines.back().text);
    tee->Release();
}

TEST(GraphManager, ErrorBlockLayout) {
    RecordingLogger logger;
    GraphManager manager(&logger);
    EXPECT_FALSE(manager.loadModule("NoSuchModule.ax"));
    ASSERT_EQ(5u, logger.lines.size()) << logger.dump();
    EXPECT_EQ("Loading the module 'NoSuchModule.ax'...", logger.lines[0].text);
    EXPECT_EQ("ERROR: Failed to load the module 'NoSuchModule.ax'", logger.lines[1].text);
    EXPECT_EQ("Method:     DirectShowFramework::GraphManager::loadModule", logger.lines[2].text);
    EXPECT_EQ("File:       .\\src\\DSF_GraphManager.cpp", logger.lines[3].text);
    EXPECT_EQ(0u, logger.lines[4].text.rfind("Line:       ", 0));
    EXPECT_GT(std::stoi(logger.lines[4].text.substr(12)), 0);
    std::vector<unsigned> levels;
    for (const LoggedLine& l : logger.lines) levels.push_back(l.indent);
    EXPECT_EQ((std::vector<unsigned>{0, 1, 2, 2, 2}), levels);
    EXPECT_EQ(0u, GraphManager::modules().count("NoSuchModule.ax"));

    // A loadable library without DllRegisterServer is refused the same way and not recorded.
    logger.clear();
    EXPECT_FALSE(manager.loadModule("libtarvelo_platform.so"));
    EXPECT_TRUE(logger.has("ERROR: Failed to load the module 'libtarvelo_platform.so'"));
    EXPECT_EQ(0u, GraphManager::modules().count("libtarvelo_platform.so"));
}

TEST(GraphManager, NullLoggerWritesNothingAndBehavesTheSame) {
    GraphManager manager(nullptr);
    EXPECT_FALSE(manager.loadModule("NoSuchModule.ax"));
    EXPECT_TRUE(manager.removeFilter(nullptr));
    manager.destroy();
    EXPECT_TRUE(manager.createGraphBuilder());
    EXPECT_TRUE(manager.start());
    EXPECT_TRUE(manager.isRunning());
    manager.destroy();
    EXPECT_FALSE(manager.isRunning());
    EXPECT_EQ(nullptr, manager.getGraph());
}

TEST(GraphManager, DestroyWithoutGraphOnlyAnnouncesAndRemovingNullIsSilent) {
    RecordingLogger logger;
    GraphManager manager(&logger);
    EXPECT_TRUE(manager.removeFilter(nullptr));
    EXPECT_TRUE(logger.lines.empty());
    manager.destroy();
    EXPECT_EQ(std::vector<std::string>{"Destruction of the graph manager"}, logger.texts());
}

TEST(GraphManager, FilterOperationsWithoutAGraphFailWithAReport) {
    // Before the graph builder exists (or once it is destroyed) they once called through a null graph.
    RecordingLogger logger;
    BareGraph manager(&logger);
    IBaseFilter* smart = makeFilter(CLSID_SmartTee);
    IBaseFilter* inf = makeFilter(CLSID_InfTee);
    EXPECT_EQ(E_POINTER, manager.addFilter(smart, "Smart Tee"));
    EXPECT_FALSE(manager.removeFilter(smart));
    EXPECT_FALSE(manager.connectFilters(smart, inf));
    EXPECT_TRUE(logger.has("ERROR: Failed to remove the filter")) << logger.dump();
    EXPECT_TRUE(logger.has("ERROR: Failed to connect the filters")) << logger.dump();
    smart->Release();
    inf->Release();
}

TEST(GraphManager, RunningObjectTableEntryNamedAfterGraphAndProcess) {
    RecordingLogger logger;
    BareGraph manager(&logger);
    ASSERT_TRUE(manager.createGraphBuilder());
    ASSERT_TRUE(manager.addToRot());
    char name[64];
    std::snprintf(name, sizeof name, "!FilterGraph %08x pid %08x",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(static_cast<IUnknown*>(manager.getGraph()))),
                  static_cast<unsigned>(GetCurrentProcessId()));
    std::vector<std::string> names = tarvelo::graph::runningObjectNames();
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), name));
    EXPECT_NE(0u, manager.getRotCookie());
    manager.destroy();
    names = tarvelo::graph::runningObjectNames();
    EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), name));
    EXPECT_EQ((std::vector<std::string>{"Destruction of the graph manager",
                                        "Removing the graph from the Running Object Table..."}),
              linesFrom(logger, "Destruction of the graph manager"));
}

TEST(GraphManager, ConnectionsTakeUnconnectedPinsAndReportFailures) {
    RecordingLogger logger;
    BareGraph manager(&logger);
    ASSERT_TRUE(manager.createGraphBuilder());
    IBaseFilter* smart = makeFilter(CLSID_SmartTee);
    IBaseFilter* inf = makeFilter(CLSID_InfTee);
    ASSERT_EQ(S_OK, manager.addFilter(smart, "Smart Tee"));
    ASSERT_EQ(S_OK, manager.addFilter(inf, "Infinite Tee"));
    // Neither has an upstream type to offer, so Connect fails with its HRESULT.
    logger.clear();
    EXPECT_FALSE(manager.connectFilters(smart, inf));
    EXPECT_EQ("Connecting two filters...", logger.lines[0].text);
    int block = logger.find("ERROR: Failed to connect the filters");
    ASSERT_GE(block, 0) << logger.dump();
    EXPECT_EQ(0u, logger.lines[block + 1].text.rfind("Error code: 0X8004", 0));
    EXPECT_EQ("The connection failed", logger.lines.back().text);
    EXPECT_EQ(1u, logger.lines.back().indent);

    // A filter that is not in the graph cannot be removed.
    IBaseFilter* renderer = makeFilter(CLSID_VideoRenderer);
    EXPECT_TRUE(manager.removeFilter(smart));
    logger.clear();
    EXPECT_FALSE(manager.removeFilter(renderer));
    EXPECT_EQ("ERROR: Failed to remove the filter", logger.lines[1].text);
    EXPECT_EQ(0u, logger.lines[2].text.rfind("Error code: 0X", 0));
    smart->Release();
    inf->Release();
    renderer->Release();
}
