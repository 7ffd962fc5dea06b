#pragma once
// The highlighting filter's own interface. Draw mode: 0 = RGB24, 1 = ARGB32 on both video pins.
// Set the mode and the painter while no frame is being processed (before the graph runs).
#include "platform/com.h"

class HighlightPainter;

DEFINE_GUID(CLSID_HighlightingFilter, 0xC1453CFA, 0x62EE, 0x49FF, 0xA3, 0xAF, 0x6F, 0xD6, 0x92, 0x4E, 0x2A, 0x99);
DEFINE_GUID(IID_IHighlighting, 0x4D7E141E, 0x66F7, 0x4251, 0x8D, 0xD2, 0xF3, 0x70, 0x8C, 0x0A, 0x20, 0x18);

struct IHighlighting : IUnknown {
    virtual HRESULT SetDrawMode(int mode) = 0;
    virtual HRESULT GetDrawMode(int* mode) = 0;
    // The painter must stay alive while it is registered.
    virtual HRESULT SetPainter(HighlightPainter* painter) = 0;
};
