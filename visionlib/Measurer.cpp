#include "visionlib/Measurer.h"

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"
#include "visionlib/StringUtils.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace vision {

Measurer::Measurer(DataSet* data_, XFile* file_) {
    data = data_;
    file = file_;
    addBoolOption("binary mode", &binary_mode, false, "binary mode");
}

FrameMeanMeasurer::FrameMeanMeasurer(Sequence* outputs_, DataSet* data_, char** names_, XFile* file_)
    : Measurer(data_, file_) {
    outputs = outputs_;
    names = nullptr;
    n_names = 0;
    addBoolOption("average frames", &average_frames, true, "divided by the number of frames");
    if (names_) {
        // Indexed by real example, so that a pushed subset still finds its names.
        n_names = data->n_real_examples;
        names = (char**)allocator->alloc(sizeof(char*) * n_names, 0);
        for (int i = 0; i < n_names; i++)
            names[i] = cutAtLast(pathBaseName(names_[i]), '.');
    }
}

FrameMeanMeasurer::~FrameMeanMeasurer() {
    for (int i = 0; i < n_names; i++)
        std::free(names[i]);
}

void FrameMeanMeasurer::measureExample() {
    const int n = outputs->n_frames;
    double s = 0, q = 0;
    for (int t = 0; t < n; t++) {
        double v = outputs->frames[t][0];
        s += v;
        q += v * v;
    }
    real value;
    double second;
    if (average_frames) {
        value = (real)(s / n);
        double spread2 = q / n - (double)value * (double)value;
        second = std::sqrt(spread2 > 0 ? spread2 : 0);
    } else {
        value = (real)s;
        second = q;
    }

    const char* name = nullptr;
    if (names) {
        int at = data->current_example;
        if (at < 0 || at >= n_names)
            error("FrameMeanMeasurer: no name for example %d", at);
        name = names[at];
    }
    if (binary_mode) {
        if (name)
            file->write(name, 1, (int)std::strlen(name));
        file->write(&value, sizeof(real), 1);
    } else if (name) {
        file->printf("%s %g %g\n", name, value, second);
    } else {
        file->printf("%g\n", value);
    }
}

MeasurerGroups groupMeasurers(MeasurerList* measurers, DataSet* train) {
    MeasurerGroups groups;
    groups.allocator.reset(new Allocator);
    groups.n_datas = 0;
    groups.datas = nullptr;
    groups.n_measurers = nullptr;
    groups.measurers = nullptr;
    Allocator* a = groups.allocator.get();

    const int n_list = measurers ? measurers->n_nodes : 0;
    // At most one data set per measurer, plus the training set.
    const int room = n_list + 1;
    groups.datas = (DataSet**)a->alloc(sizeof(DataSet*) * room, 0);
    if (train)
        groups.datas[groups.n_datas++] = train;
    for (int i = 0; i < n_list; i++) {
        DataSet* d = measurers->nodes[i]->data;
        bool known = false;
        for (int k = 0; k < groups.n_datas && !known; k++)
            known = groups.datas[k] == d;
        if (!known)
            groups.datas[groups.n_datas++] = d;
    }
    if (groups.n_datas == 0)
        return groups;

    groups.n_measurers = (int*)a->alloc(sizeof(int) * groups.n_datas, 0);
    groups.measurers = (Measurer***)a->alloc(sizeof(Measurer**) * groups.n_datas, 0);
    for (int k = 0; k < groups.n_datas; k++) {
        groups.n_measurers[k] = 0;
        groups.measurers[k] = (Measurer**)a->alloc(sizeof(Measurer*) * (n_list > 0 ? n_list : 1), 0);
        for (int i = 0; i < n_list; i++) {
            Measurer* m = measurers->nodes[i];
            if (m->data == groups.datas[k])
                groups.measurers[k][groups.n_measurers[k]++] = m;
        }
    }
    return groups;
}

}  // namespace vision
