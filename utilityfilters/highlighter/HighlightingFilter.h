#pragma once
// Copies each video frame to its output, top-down, and outlines every face of the matching face
// information sample with a red rectangle.
#include "utilityfilters/highlighter/HighlightPainter.h"
#include "utilityfilters/highlighter/IHighlighting.h"
#include "visionlib/filter/MultiPinTransformFilter.h"

class HighlightingFilter : public vision::MultiPinTransformFilter, public IHighlighting {
public:
    enum { DRAW_RGB24 = 0, DRAW_ARGB32 = 1 };

    HighlightingFilter(const TCHAR* name, LPUNKNOWN outer);
    ~HighlightingFilter() override;

    static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IHighlighting
    HRESULT SetDrawMode(int mode) override;
    HRESULT GetDrawMode(int* mode) override;
    HRESULT SetPainter(HighlightPainter* painter) override;

    // The table of the draw mode in force.
    const vision::PinFormat* pinFormats() const override;
    HRESULT Transform() override;

    // One-pixel red outline of the face's box, right and bottom edges inside the box; only the part
    // inside the frame is drawn.
    static void drawFaceBox(vision::RgbFrame& out, const vision::FaceInfo& face);

protected:
    CCritSec lock;
    int32_t drawMode;
    HighlightPainter* painter;
};

extern const AMOVIESETUP_FILTER HighlightingFilterSetup;
