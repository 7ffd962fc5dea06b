#pragma once
// Histogram equalisation to 0..255 (0..1 for "float"), one histogram per plane.
#include "visionlib/ipCore.h"

namespace vision {

class ipHistoEqual : public ipCore {
public:
    int width;
    int height;
    int n_bins;         // n_planes x 256
    real* histogram;    // plane p at bins p x 256 .. p x 256 + 255
    real* cumulative;

    ipHistoEqual(int width, int height, const char* coding);
    ~ipHistoEqual() override;
    void process(Sequence* input) override;
};

}  // namespace vision
