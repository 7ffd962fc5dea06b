#pragma once
// Moves the image by ("shiftx", "shifty"); output pixels that nothing reaches keep their old value.
#include "visionlib/ipCore.h"

namespace vision {

class ipShift : public ipCore {
public:
    int width;
    int height;
    int shiftx;
    int shifty;

    ipShift(int width, int height, const char* coding);
    ~ipShift() override;
    void process(Sequence* input) override;
};

}  // namespace vision
