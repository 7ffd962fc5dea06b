#pragma once
// Left-right mirror; whole pixels for "rgb" and "yuv".
#include "visionlib/ipCore.h"

namespace vision {

class ipMirror : public ipCore {
public:
    int width;
    int height;

    ipMirror(int width, int height, const char* coding);
    ~ipMirror() override;
    void process(Sequence* input) override;
};

}  // namespace vision
