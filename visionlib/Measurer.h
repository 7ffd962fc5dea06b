#pragma once
// Measurers are told about every example, iteration and end of a pass over
// their data set and write what they measure to a file.
#include <memory>

#include "visionlib/Allocator.h"
#include "visionlib/DataSet.h"
#include "visionlib/Object.h"
#include "visionlib/PointerList.h"
#include "visionlib/Sequence.h"
#include "visionlib/XFile.h"

namespace vision {

class Measurer : public Object {
public:
    XFile* file;    // not owned
    DataSet* data;  // not owned
    bool binary_mode;

    Measurer(DataSet* data, XFile* file);

    virtual void measureExample() {}
    virtual void measureIteration() {}
    virtual void measureEnd() {}
    virtual void reset() {}
};

class MeasurerList : public BasicPointerList<Measurer> {};

// Writes, per example, the mean over the frames of the first value of a model
// output (for a mixture: the mean frame log-likelihood).
class FrameMeanMeasurer : public Measurer {
public:
    bool average_frames;
    char** names;  // one per real example, owned; or none
    int n_names;
    Sequence* outputs;  // not owned

    // names, when given, holds one path per real example of data.
    FrameMeanMeasurer(Sequence* outputs, DataSet* data, char** names, XFile* file);
    ~FrameMeanMeasurer() override;

    void measureExample() override;
};

// The measurers of a list grouped by the data set they measure: the training
// set first when given, then the others in the order the list first names
// them. The arrays belong to allocator.
struct MeasurerGroups {
    // Owns the tables: a measurer's fatal error unwinding through a recoverable scope frees them.
    std::unique_ptr<Allocator> allocator;
    int n_datas;
    DataSet** datas;
    int* n_measurers;
    Measurer*** measurers;
};

MeasurerGroups groupMeasurers(MeasurerList* measurers, DataSet* train);

}  // namespace vision
