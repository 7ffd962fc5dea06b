#include "detection/MctLutClassifier.h"

#include <cmath>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"
#include "visionlib/Sequence.h"
#include "visionlib/XFile.h"

namespace vision {

MctLutClassifier::MctLutClassifier(int width_pattern_)
    : width_pattern(width_pattern_), location(-1), code(0), mct(nullptr) {
    for (int i = 0; i < 512; i++) lut[i] = 0;
    outputs = new (allocator) Sequence(1, 1);
    outputs->frames[0][0] = 0;
}

void MctLutClassifier::loadXFile(XFile* file) {
    file->taggedRead(&location, 4, 1, "LOCATION");
    if (location < 0 || location >= nLocations())
        error("MctLutClassifier: location %d is outside the pattern (0..%d).", location, nLocations() - 1);
    file->taggedRead(lut, 4, 512, "LUT");
    for (int i = 0; i < 512; i++)
        if (!std::isfinite(lut[i])) error("MctLutClassifier: entry %d of the look-up table is not a number.", i);
    if (mct) allocator->free(mct);
    const int row = width_pattern - 2;
    mct = new (allocator) ipMCT(width_pattern, width_pattern, location % row, location / row, 3);
}

void MctLutClassifier::forward(Sequence* integral) {
    mct->process(integral);
    code = mct->code();
    outputs->frames[0][0] = lut[code];
}

}  // namespace vision
