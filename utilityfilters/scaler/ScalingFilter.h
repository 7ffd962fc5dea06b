#pragma once
// Turns RGB24 frames into top-down RGB24 frames of a chosen size, keeping the picture's aspect ratio
// and filling the rest with black.
#include "utilityfilters/scaler/FrameScaler.h"
#include "utilityfilters/scaler/ITamsel.h"
#include "visionlib/filter/MultiPinTransformFilter.h"

class ScalingFilter : public vision::MultiPinTransformFilter, public ITamsel {
public:
    ScalingFilter(const TCHAR* name, LPUNKNOWN outer);
    ~ScalingFilter() override;

    static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // ITamsel
    HRESULT SetInputResolution(unsigned width, unsigned height) override;
    HRESULT SetOutputResolution(unsigned width, unsigned height) override;

    const vision::PinFormat* pinFormats() const override;
    // Input: SetInputResolution's size; output: SetOutputResolution's.
    vision::FrameSize givenSize(unsigned pin) override;
    HRESULT Transform() override;

protected:
    CCritSec lock;
    unsigned inputWidth, inputHeight;
    unsigned outputWidth, outputHeight;
    FrameScaler scaler;
};

extern const AMOVIESETUP_FILTER ScalingFilterSetup;
