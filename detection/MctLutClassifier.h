#pragma once
// Weak classifier of the cascade: the census code of one mask indexes a 512-entry table.
#include "detection/ipMCT.h"
#include "visionlib/Model.h"

namespace vision {

class MctLutClassifier : public ModelBase {
public:
    int width_pattern;
    int location;  // -1 until loaded
    real lut[512];
    int code;      // the last census code
    ipMCT* mct;    // built when loaded

    explicit MctLutClassifier(int width_pattern);

    // Reads "LOCATION" and "LUT"; a location outside the pattern or a table entry that is not a finite
    // number is fatal.
    void loadXFile(XFile* file) override;
    void saveXFile(XFile* file) override {}
    void forward(Sequence* integral) override;

    // Number of mask positions in the pattern (17 x 17 for 19 x 19).
    int nLocations() const { return (width_pattern - 2) * (width_pattern - 2); }
};

}  // namespace vision
