#pragma once
// A model's parameters as a list of real blocks; stored as one "PARAMS" record per block.
#include "visionlib/Object.h"

namespace vision {

class ParameterBlocks : public Object {
public:
    real** data;
    int n_data;  // blocks
    int* size;   // reals per block
    int n_params;

    ParameterBlocks();
    // One block of n reals (values not cleared) when n > 0.
    explicit ParameterBlocks(int n);
    ~ParameterBlocks() override;

    void add(real* block, int n, bool copy = false);
    void add(ParameterBlocks* other, bool copy = false);
    // Flat copies of n_params values; the source must hold at least as many (fatal otherwise).
    void copy(ParameterBlocks* other);
    void copyFrom(const real* values);
    void copyTo(real* values);

    void loadXFile(XFile* file) override;
    void saveXFile(XFile* file) override;
};

}  // namespace vision
