#pragma once
// The scaling filter's own interface: the sizes it requires at its input and gives at its output.
// 0 in either side of a size means "any" (input) or "the input's" (output). New values take effect
// at the next media-type negotiation.
#include "platform/com.h"

DEFINE_GUID(CLSID_ScalingFilter, 0x52745A3F, 0x41B6, 0x4C6C, 0xB6, 0xF5, 0x7D, 0x85, 0xE9, 0x1F, 0xD6, 0x1E);
DEFINE_GUID(IID_ITamsel, 0x9FD85C6E, 0x5164, 0x4476, 0xAE, 0xE6, 0xD7, 0xBE, 0x31, 0x74, 0xB8, 0x33);

struct ITamsel : IUnknown {
    virtual HRESULT SetInputResolution(unsigned width, unsigned height) = 0;
    virtual HRESULT SetOutputResolution(unsigned width, unsigned height) = 0;
};
