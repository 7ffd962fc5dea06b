#pragma once
// Base of every image operator: an image comes in as frame 0 of a Sequence (width x height x
// n_planes reals, rows from the top, planes side by side) and the result goes to `output`, which
// the operator owns and its caller reads after process().
#include "visionlib/Coding.h"
#include "visionlib/Object.h"
#include "visionlib/Sequence.h"

namespace vision {

class ipCore : public Object {
public:
    Sequence* output;    // made by each operator's constructor in its allocator
    const char* coding;  // the library's own coding string
    int coding_id;       // CodingId
    int n_planes;
    bool verbose;

    // An unknown coding is fatal.
    explicit ipCore(const char* coding);
    ~ipCore() override;

    virtual void init();
    virtual void process(Sequence* input);
    virtual int getOutputWidth();
    virtual int getOutputHeight();
    virtual void setOutputSize(int width, int height);
};

}  // namespace vision
