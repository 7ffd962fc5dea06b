#include "src/DSF_GraphManager.h"

#include <cwchar>

namespace DirectShowFramework {

namespace {

const char kFile[] = ".\\src\\DSF_GraphManager.cpp";

ModuleRegistry& registry() {
    static ModuleRegistry entries;
    return entries;
}

const char* directionWord(PIN_DIRECTION direction) { return direction == PINDIR_OUTPUT ? "OUTPUT" : "INPUT"; }

void writeBlock(Logger* logger, const std::string& text, const HRESULT* code, const char* method, const char* file,
                int line) {
    if (!logger) return;
    logger->stream << "ERROR: " << text;
    logger->flush();
    logger->raiseIndent();
    if (code) {
        logger->stream << "Error code: " << hresultToString(*code);
        logger->flush();
    }
    logger->stream << "Method:     " << method;
    logger->flush();
    logger->stream << "File:       " << file;
    logger->flush();
    logger->stream << "Line:       " << line;
    logger->flush();
    logger->lowerIndent();
}

// The wide friendly name in the ANSI code page. The fixed 80-byte buffer covers the usual names;
// a longer one is converted whole rather than dropped, so it can still be listed and matched.
std::string toAnsi(const WCHAR* wide) {
    char buffer[80] = {};
    int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, sizeof buffer, nullptr, nullptr);
    if (n > 0) return std::string(buffer);
    int needed = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::vector<char> whole(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, -1, whole.data(), needed, nullptr, nullptr);
    return std::string(whole.data());
}

}  // namespace

uint32_t GraphManager::instanceCount = 0;

std::string hresultToString(HRESULT code) {
    static const char digits[] = "0123456789ABCDEF";
    uint32_t value = static_cast<uint32_t>(code);
    std::string hex;
    do {
        hex.insert(hex.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value);
    return "0X" + hex;
}

void logError(Logger* logger, const std::string& text, const char* method, const char* file, int line) {
    writeBlock(logger, text, nullptr, method, file, line);
}

void logError(Logger* logger, const std::string& text, HRESULT code, const char* method, const char* file,
              int line) {
    writeBlock(logger, text, &code, method, file, line);
}

GraphManager::GraphManager(Logger* logger) : graph(nullptr), running(false), rotCookie(0), logger(logger) {
    if (instanceCount == 0) CoInitialize(nullptr);
    ++instanceCount;
}

GraphManager::~GraphManager() {
    if (instanceCount > 0 && --instanceCount == 0) {
        CoUninitialize();
        sweepModules();
    }
}

void GraphManager::releaseFilters() {}

IBaseFilter* GraphManager::getCaptureFilter() { return nullptr; }

const ModuleRegistry& GraphManager::modules() { return registry(); }

HRESULT GraphManager::createFilter(REFCLSID clsid, IBaseFilter** filter) {
    *filter = nullptr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(filter));
}

HRESULT GraphManager::addFilter(IBaseFilter* filter, const char* name) {
    // Before the graph builder exists (or after its creation failed) there is no graph to add to.
    return graph ? graph->AddFilter(filter, tarvelo::com::widen(name).c_str()) : E_POINTER;
}

bool GraphManager::createGraphBuilder() {
    logLine("Creation of the graph builder");
    LogIndent indent(logger);
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                  IID_IGraphBuilder, reinterpret_cast<void**>(&graph));
    if (FAILED(hr)) {
        graph = nullptr;
        logError(logger, "Failed to create the graph builder", hr, "DirectShowFramework::GraphManager::createGraphBuilder",
                 kFile, __LINE__);
        return false;
    }
    return true;
}

bool GraphManager::start() { return changeState(true); }

bool GraphManager::stop() { return changeState(false); }

HRESULT GraphManager::streamingError() const {
    for (const tarvelo::graph::GraphEvent& e : tarvelo::graph::graphEvents(graph))
        if (e.code == EC_ERRORABORT) return FAILED(static_cast<HRESULT>(e.param1)) ? static_cast<HRESULT>(e.param1) : E_FAIL;
    return S_OK;
}

bool GraphManager::changeState(bool run) {
    logLine(run ? "Starting the graph manager" : "Stopping the graph manager");
    LogIndent indent(logger);
    const char* method = run ? "DirectShowFramework::GraphManager::start" : "DirectShowFramework::GraphManager::stop";
    IMediaControl* control = nullptr;
    HRESULT hr = graph ? graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)) : E_POINTER;
    if (FAILED(hr)) {
        logError(logger, "Failed to retrieve the media control interface of the graph", hr, method, kFile, __LINE__);
        return false;
    }
    hr = run ? control->Run() : control->Stop();
    control->Release();
    if (FAILED(hr)) {
        logError(logger, run ? "Failed to start the graph" : "Failed to stop the graph", hr, method, kFile, __LINE__);
        return false;
    }
    running = run;
    logLine("Success");
    return true;
}

bool GraphManager::getVideoSize(int32_t& width, int32_t& height) {
    logLine("Retrieving the video size from the graph");
    LogIndent indent(logger);
    const char* method = "DirectShowFramework::GraphManager::getVideoSize";
    IBasicVideo* video = nullptr;
    HRESULT hr = graph ? graph->QueryInterface(IID_IBasicVideo, reinterpret_cast<void**>(&video)) : E_POINTER;
    if (FAILED(hr)) {
        logError(logger, "Failed to retrieve the basic video interface of the graph", hr, method, kFile, __LINE__);
        return false;
    }
    LONG w = 0, h = 0;
    hr = video->GetVideoSize(&w, &h);
    video->Release();
    if (FAILED(hr)) {
        logError(logger, "Failed to retrieve the size of the video", hr, method, kFile, __LINE__);
        return false;
    }
    width = w;
    height = h;
    if (logger) {
        logger->stream << "Video size: " << static_cast<uint32_t>(w) << "x" << static_cast<uint32_t>(h);
        logger->flush();
    }
    return true;
}

IPin* GraphManager::findPin(IBaseFilter* filter, PIN_DIRECTION direction, PinSearch search, int index,
                            const GUID& category, const char* method) {
    IEnumPins* pins = nullptr;
    HRESULT hr = filter ? filter->EnumPins(&pins) : E_POINTER;
    if (FAILED(hr) || !pins) {
        logError(logger, "Failed to retrieve an enumerator over the pins of the filter", FAILED(hr) ? hr : E_POINTER,
                 method, kFile, __LINE__);
        return nullptr;
    }
    IPin* found = nullptr;
    IPin* pin = nullptr;
    while (!found && pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION dir;
        if (FAILED(pin->QueryDirection(&dir)) || dir != direction) {
            pin->Release();
            continue;
        }
        bool take = false;
        switch (search) {
        case PinSearch::Index:
            take = index-- == 0;
            break;
        case PinSearch::Category:
            take = IsEqualGUID(getPinCategory(pin), category);
            break;
        case PinSearch::Unconnected: {
            IPin* peer = nullptr;
            HRESULT connected = pin->ConnectedTo(&peer);
            if (SUCCEEDED(connected) && peer) peer->Release();
            take = connected == VFW_E_NOT_CONNECTED;
            break;
        }
        }
        if (take) found = pin;
        else pin->Release();
    }
    pins->Release();
    logLine(found ? "Pin found" : "Pin not found");
    return found;
}

IPin* GraphManager::getPin(IBaseFilter* filter, PIN_DIRECTION direction, int index) {
    if (logger) {
        logger->stream << "Search a specific pin of a filter: direction = " << directionWord(direction)
                       << ", index = " << index;
        logger->flush();
    }
    LogIndent indent(logger);
    return findPin(filter, direction, PinSearch::Index, index, GUID_NULL, "DirectShowFramework::GraphManager::getPin");
}

IPin* GraphManager::getPin(IBaseFilter* filter, PIN_DIRECTION direction, GUID category) {
    if (logger) {
        logger->stream << "Search a specific pin of a filter: direction = " << directionWord(direction)
                       << ", category = " << guidToString(category);
        logger->flush();
    }
    LogIndent indent(logger);
    return findPin(filter, direction, PinSearch::Category, 0, category, "DirectShowFramework::GraphManager::getPin");
}

IPin* GraphManager::getUnconnectedPin(IBaseFilter* filter, PIN_DIRECTION direction) {
    if (logger) {
        logger->stream << "Search an unconnected pin of a filter: direction = " << directionWord(direction);
        logger->flush();
    }
    LogIndent indent(logger);
    return findPin(filter, direction, PinSearch::Unconnected, 0, GUID_NULL,
                   "DirectShowFramework::GraphManager::getUnconnectedPin");
}

GUID GraphManager::getPinCategory(IPin* pin) {
    logLine("Retrieve the category of a pin");
    LogIndent indent(logger);
    const char* method = "DirectShowFramework::GraphManager::getPinCategory";
    IKsPropertySet* properties = nullptr;
    HRESULT hr = pin->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(&properties));
    if (FAILED(hr)) {
        logError(logger, "The pin does not support IKsPropertySet", hr, method, kFile, __LINE__);
        return GUID_NULL;
    }
    GUID category = GUID_NULL;
    DWORD returned = 0;
    hr = properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof(GUID), &returned);
    properties->Release();
    if (FAILED(hr)) {
        logError(logger, "Failed to retrieve the category of the pin", hr, method, kFile, __LINE__);
        return GUID_NULL;
    }
    if (logger) {
        logger->stream << "Category of the pin: " << guidToString(category);
        logger->flush();
    }
    return category;
}

std::string GraphManager::guidToString(GUID guid) {
    char buffer[50] = {};
    LPOLESTR text = nullptr;
    if (SUCCEEDED(StringFromCLSID(guid, &text)) && text) {
        for (size_t i = 0; i + 1 < sizeof buffer && text[i]; ++i) buffer[i] = static_cast<char>(text[i]);
        CoTaskMemFree(text);
    }
    return std::string(buffer);
}

bool GraphManager::removeFilter(IBaseFilter* filter) {
    if (!filter) return true;
    logLine("Remove a filter from the graph");
    LogIndent indent(logger);
    HRESULT hr = graph ? graph->RemoveFilter(filter) : E_POINTER;
    if (FAILED(hr)) {
        logError(logger, "Failed to remove the filter", hr, "DirectShowFramework::GraphManager::removeFilter", kFile,
                 __LINE__);
        return false;
    }
    return true;
}

bool GraphManager::connectFilters(IPin* output, IBaseFilter* downstream) {
    logLine("Connecting an output pin to a downstream filter...");
    LogIndent indent(logger);
    const char* method = "DirectShowFramework::GraphManager::connectFilters";
    IPin* input = getUnconnectedPin(downstream, PINDIR_INPUT);
    if (!input) {
        logError(logger, "Failed to retrieve an unconnected input pin", method, kFile, __LINE__);
        return false;
    }
    HRESULT hr = graph ? graph->Connect(output, input) : E_POINTER;
    input->Release();
    if (FAILED(hr)) {
        logError(logger, "Failed to connect the filters", hr, method, kFile, __LINE__);
        return false;
    }
    logLine("Connection successful");
    return true;
}

bool GraphManager::connectFilters(IBaseFilter* upstream, IBaseFilter* downstream) {
    logLine("Connecting two filters...");
    LogIndent indent(logger);
    IPin* output = getUnconnectedPin(upstream, PINDIR_OUTPUT);
    if (!output) {
        logError(logger, "Failed to retrieve an unconnected output pin",
                 "DirectShowFramework::GraphManager::connectFilters", kFile, __LINE__);
        return false;
    }
    bool connected = connectFilters(output, downstream);
    output->Release();
    logLine(connected ? "Connection successful" : "The connection failed");
    return connected;
}

bool GraphManager::addToRot() {
    logLine("Adding the graph to the Running Object Table...");
    LogIndent indent(logger);
    const char* method = "DirectShowFramework::GraphManager::addToRot";
    IRunningObjectTable* table = nullptr;
    if (FAILED(GetRunningObjectTable(0, &table)) || !table) {
        logError(logger, "Failed to retrieve the Running Object Table", method, kFile, __LINE__);
        return false;
    }
    WCHAR item[128] = {};
    std::swprintf(item, sizeof item / sizeof item[0], L"FilterGraph %08x pid %08x",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(static_cast<IUnknown*>(graph))),
                  static_cast<unsigned>(GetCurrentProcessId()));
    IMoniker* moniker = nullptr;
    HRESULT hr = CreateItemMoniker(L"!", item, &moniker);
    if (FAILED(hr)) {
        logError(logger, "Failed to create the item moniker", hr, method, kFile, __LINE__);
    } else {
        hr = table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph, moniker, &rotCookie);
        if (FAILED(hr)) logError(logger, "Failed to register the graph", hr, method, kFile, __LINE__);
    }
    if (moniker) moniker->Release();
    table->Release();
    return true;
}

void GraphManager::removeFromRot() {
    logLine("Removing the graph from the Running Object Table...");
    LogIndent indent(logger);
    IRunningObjectTable* table = nullptr;
    if (FAILED(GetRunningObjectTable(0, &table)) || !table) {
        logError(logger, "Failed to retrieve the Running Object Table", "DirectShowFramework::GraphManager::removeFromRot",
                 kFile, __LINE__);
        return;
    }
    table->Revoke(rotCookie);
    table->Release();
}

void GraphManager::destroy() {
    logLine("Destruction of the graph manager");
    LogIndent indent(logger);
    if (running) stop();
    if (graph) {
        removeFromRot();
        releaseFilters();
    }
    releaseInterface(graph);
}

// ---- Module registry ----

bool GraphManager::loadModule(const std::string& path) {
    logLine("Loading the module '" + path + "'...");
    LogIndent indent(logger);
    ModuleRegistry& modules = registry();
    auto it = modules.find(path);
    if (it != modules.end() && it->second.handle) {
        ++it->second.count;
        if (logger) {
            logger->stream << "Module already loaded, now referenced " << it->second.count << " times";
            logger->flush();
        }
        return true;
    }
    HMODULE module = LoadLibraryA(path.c_str());
    FARPROC registerServer = module ? GetProcAddress(module, "DllRegisterServer") : nullptr;
    if (!registerServer) {
        // Never recorded, so never swept: let it go at once.
        if (module) FreeLibrary(module);
        logError(logger, "Failed to load the module '" + path + "'", "DirectShowFramework::GraphManager::loadModule",
                 kFile, __LINE__);
        return false;
    }
    reinterpret_cast<LPFNDLLREGISTERSERVER>(registerServer)();
    ModuleEntry& entry = modules[path];
    entry.handle = module;
    entry.count = 1;
    logLine("Module successfully loaded");
    return true;
}

void GraphManager::unloadModule(const std::string& path) {
    logLine("Unloading the module '" + path + "'...");
    LogIndent indent(logger);
    ModuleRegistry& modules = registry();
    auto it = modules.find(path);
    if (it == modules.end() || it->second.count == 0) return;
    --it->second.count;
    if (logger) {
        logger->stream << "The module is now referenced " << it->second.count << " times";
        logger->flush();
    }
}

void GraphManager::sweepModules() {
    for (auto& [path, entry] : registry()) {
        if (entry.count != 0 || !entry.handle) continue;
        if (FARPROC unregisterServer = GetProcAddress(entry.handle, "DllUnregisterServer"))
            reinterpret_cast<LPFNDLLUNREGISTERSERVER>(unregisterServer)();
        FreeLibrary(entry.handle);
        entry.handle = nullptr;
    }
}

// ---- Capture devices ----

IBaseFilter* GraphManager::walkDevices(const GUID& category, const std::string* wanted,
                                       std::vector<std::string>* names, const char* method) {
    ICreateDevEnum* devices = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  reinterpret_cast<void**>(&devices));
    if (FAILED(hr)) {
        logError(logger, "Failed to create the devices' enumerator", hr, method, kFile, __LINE__);
        return nullptr;
    }
    IEnumMoniker* monikers = nullptr;
    hr = devices->CreateClassEnumerator(category, &monikers, 0);
    if (hr != S_OK || !monikers) {
        if (monikers) monikers->Release();
        devices->Release();
        logError(logger, "Failed to create the device's class enumerator", hr, method, kFile, __LINE__);
        return nullptr;
    }
    IBaseFilter* filter = nullptr;
    IMoniker* moniker = nullptr;
    while (!filter && monikers->Next(1, &moniker, nullptr) == S_OK) {
        IPropertyBag* properties = nullptr;
        hr = moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&properties));
        if (FAILED(hr)) {
            logError(logger, "Device found, failed to retrieve its properties", hr, method, kFile, __LINE__);
            moniker->Release();
            continue;
        }
        VARIANT value;
        VariantInit(&value);
        hr = properties->Read(L"FriendlyName", &value, nullptr);
        if (FAILED(hr)) {
            logError(logger, "Device found, failed to retrieve its friendly name", hr, method, kFile, __LINE__);
            VariantClear(&value);
            properties->Release();
            moniker->Release();
            continue;
        }
        const std::string name = value.vt == VT_BSTR && value.bstrVal ? toAnsi(value.bstrVal) : std::string();
        VariantClear(&value);
        if (names) names->push_back(name);
        logLine("Device found, name = " + name);
        if (wanted && name == *wanted) {
            hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
            if (SUCCEEDED(hr) && filter) {
                logLine("Filter found");
            } else {
                filter = nullptr;
                logError(logger, "Failed to retrieve the filter associated with the device", FAILED(hr) ? hr : E_POINTER,
                         method, kFile, __LINE__);
            }
        }
        properties->Release();
        moniker->Release();
    }
    monikers->Release();
    devices->Release();
    if (wanted && !filter) logLine("No filter found");
    return filter;
}

IBaseFilter* GraphManager::findFilter(const GUID& category, const std::string& name) {
    logLine("Search for a filter to class " + guidToString(category) + " with the name '" + name + "'...");
    LogIndent indent(logger);
    return walkDevices(category, &name, nullptr, "DirectShowFramework::GraphManager::findFilter");
}

std::vector<std::string> GraphManager::enumerateDevices(const GUID& category) {
    logLine("Enumeration of the devices of type " + guidToString(category));
    LogIndent indent(logger);
    std::vector<std::string> names;
    walkDevices(category, nullptr, &names, "DirectShowFramework::GraphManager::enumerateDevices");
    return names;
}

std::vector<std::string> GraphManager::enumerateVideoCaptureDevices() {
    logLine("Enumeration of the video capture devices...");
    LogIndent indent(logger);
    std::vector<std::string> names = enumerateDevices(CLSID_VideoInputDeviceCategory);
    if (logger) {
        logger->stream << "Found " << names.size() << " video capture devices";
        logger->flush();
    }
    return names;
}

bool GraphManager::hasVideoCaptureDevice(const std::string& name) {
    logLine("Searching the video capture device '" + name + "'...");
    LogIndent indent(logger);
    for (const std::string& device : enumerateVideoCaptureDevices()) {
        if (device == name) {
            logLine("The video capture device was found");
            return true;
        }
    }
    logLine("The video capture device wasn't found");
    return false;
}

}  // namespace DirectShowFramework
