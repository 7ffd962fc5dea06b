#pragma once
// A client's hook into the highlighting filter: it may fill the output frame itself, draw the faces
// itself, or both. Called on the streaming thread with the filter's lock held; the frames and faces
// are the filter's and valid only during the call. Not a COM object; the filter never deletes it.
#include <cstdint>

#include "visionlib/filter/FaceInfo.h"
#include "visionlib/filter/RgbFrame.h"

struct IHighlighting;

class HighlightPainter {
public:
    // Set by IHighlighting::SetPainter while this painter is registered.
    IHighlighting* owner = nullptr;

    virtual ~HighlightPainter() {}
    // True when the faces are drawn.
    virtual bool paintFaces(vision::RgbFrame* out, const vision::RgbFrame* in, unsigned count,
                            vision::FaceInfo* faces) {
        return false;
    }
    // True when the output frame is filled.
    virtual bool copyFrame(vision::RgbFrame* out, const vision::RgbFrame* in) { return false; }
};

// A colour as four bytes in memory order (blue, green, red, alpha), from a packed value low byte first.
struct PixelBytes {
    unsigned char bytes[4];
    explicit PixelBytes(uint32_t packed)
        : bytes{(unsigned char)(packed & 0xFF), (unsigned char)((packed >> 8) & 0xFF),
                (unsigned char)((packed >> 16) & 0xFF), (unsigned char)((packed >> 24) & 0xFF)} {}
};
