#pragma once
// Built-in classes of the graph runtime: their class objects and creation functions.
#include "platform/streams.h"

#include <string>

#include "platform/capture/ReplayCamera.h"

namespace tarvelo::graph {

typedef CUnknown* (*CreateFn)(LPUNKNOWN outer, HRESULT* hr);

// Creates an object and hands out the asked interface; the object goes away when that fails.
HRESULT createObject(CreateFn create, REFIID riid, void** ppv);

CUnknown* createFilterGraph(LPUNKNOWN outer, HRESULT* hr);
CUnknown* createSmartTee(LPUNKNOWN outer, HRESULT* hr);
CUnknown* createInfTee(LPUNKNOWN outer, HRESULT* hr);
CUnknown* createVideoRenderer(LPUNKNOWN outer, HRESULT* hr);
CUnknown* createSystemDeviceEnum(LPUNKNOWN outer, HRESULT* hr);

// A capture device as the device enumerator finds it.
struct CaptureDevice {
    enum class Kind { Webcam, Replay } kind = Kind::Webcam;
    std::string friendlyName;
    std::string path;  // device node, or the replay folder
    tarvelo::capture::ReplayDeclaration replay;
};

// The webcams first, then the declared replay cameras, each in its own order.
std::vector<CaptureDevice> findCaptureDevices();

// The capture filter of a device, with one reference for the caller.
HRESULT createCaptureFilter(const CaptureDevice& device, IBaseFilter** filter);

}  // namespace tarvelo::graph
