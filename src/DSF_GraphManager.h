#pragma once
// The base of the program's capture graphs: one filter graph and the graph operations that the
// derived graphs compose (pins, connections, start and stop, video size, running object table,
// tear-down), the filter module registry, and capture device discovery. Every step is announced in
// the log and every failing step writes an error block; results come back as booleans or nulls.
//
// Process-wide: the count of live graph managers (the first initialises COM, the last uninitialises
// it and then unregisters and frees the modules that no manager uses any more) and the module
// registry. Both belong to the GUI thread, which alone creates, uses and destroys graph managers.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/graph.h"
#include "src/Logger.h"

namespace DirectShowFramework {

struct ModuleEntry {
    HMODULE handle = nullptr;  // null once the sweep has freed the module
    uint32_t count = 0;        // uses declared by live graph managers
};
// Keyed by the module path as given, compared byte for byte. Entries are never removed.
typedef std::map<std::string, ModuleEntry> ModuleRegistry;

// The error block of a failing step: "ERROR: " + text, then one level deeper the HRESULT (when the
// step produced one), the method, the source file and the line. Nothing without a logger.
void logError(Logger* logger, const std::string& text, const char* method, const char* file, int line);
void logError(Logger* logger, const std::string& text, HRESULT code, const char* method, const char* file,
              int line);
// "0X" followed by the upper-case hexadecimal digits of the 32-bit value.
std::string hresultToString(HRESULT code);

class GraphManager {
public:
    explicit GraphManager(Logger* logger);
    virtual ~GraphManager();
    // Removes the derived graph's filters from the graph and releases what it holds.
    virtual void releaseFilters();
    // The capture device filter, without a reference; null for the base.
    virtual IBaseFilter* getCaptureFilter();

    bool createGraphBuilder();
    bool start();
    bool stop();
    bool getVideoSize(int32_t& width, int32_t& height);
    // The code with which a filter of the graph aborted its stream (EC_ERRORABORT: a camera that
    // went away, a streaming thread that failed), S_OK while none did.
    HRESULT streamingError() const;

    // The pin of that direction at place index among the filter's pins of that direction.
    IPin* getPin(IBaseFilter* filter, PIN_DIRECTION direction, int index);
    // The first pin of that direction whose category is category.
    IPin* getPin(IBaseFilter* filter, PIN_DIRECTION direction, GUID category);
    IPin* getUnconnectedPin(IBaseFilter* filter, PIN_DIRECTION direction);
    GUID getPinCategory(IPin* pin);
    static std::string guidToString(GUID guid);

    bool removeFilter(IBaseFilter* filter);
    // output -> first unconnected input of downstream, by the graph builder's Connect.
    bool connectFilters(IPin* output, IBaseFilter* downstream);
    // first unconnected output of upstream -> first unconnected input of downstream.
    bool connectFilters(IBaseFilter* upstream, IBaseFilter* downstream);

    bool addToRot();
    void removeFromRot();
    // Stops a running graph, leaves the running object table, releases the filters and the graph.
    void destroy();

    // Declares a use of a filter module, loading and registering it on its first use.
    bool loadModule(const std::string& path);
    // Withdraws one declared use; never frees or unregisters anything.
    void unloadModule(const std::string& path);

    // The device filter of the first device of the category named name (byte for byte), or null.
    IBaseFilter* findFilter(const GUID& category, const std::string& name);
    std::vector<std::string> enumerateDevices(const GUID& category);
    std::vector<std::string> enumerateVideoCaptureDevices();
    bool hasVideoCaptureDevice(const std::string& name);

    IGraphBuilder* getGraph() const { return graph; }
    bool isRunning() const { return running; }
    DWORD getRotCookie() const { return rotCookie; }

    static uint32_t liveInstances() { return instanceCount; }
    static const ModuleRegistry& modules();

protected:
    void logLine(const std::string& line) {
        if (logger) logger->log(line);
    }
    // Creates one of the graph's filters (CoCreateInstance, in-process server, IID_IBaseFilter).
    static HRESULT createFilter(REFCLSID clsid, IBaseFilter** filter);
    // AddFilter with a narrow name.
    HRESULT addFilter(IBaseFilter* filter, const char* name);

    IGraphBuilder* graph;
    bool running;
    DWORD rotCookie;
    Logger* logger;

private:
    // Run (true) or Stop (false) through the graph's IMediaControl.
    bool changeState(bool run);
    enum class PinSearch { Index, Category, Unconnected };
    IPin* findPin(IBaseFilter* filter, PIN_DIRECTION direction, PinSearch search, int index, const GUID& category,
                  const char* method);
    // The device walk of findFilter and enumerateDevices.
    IBaseFilter* walkDevices(const GUID& category, const std::string* wanted, std::vector<std::string>* names,
                             const char* method);
    static void sweepModules();

    static uint32_t instanceCount;
};

template <class T>
void releaseInterface(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

}  // namespace DirectShowFramework
