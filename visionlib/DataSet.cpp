#include "visionlib/DataSet.h"

#include <cstring>

#include "visionlib/Allocator.h"
#include "visionlib/MemoryStack.h"
#include "visionlib/Message.h"

namespace vision {

DataSet::DataSet()
    : subsets(nullptr), subsets_sizes(nullptr), n_subsets(0), stack(new (allocator) MemoryStack()),
      select_examples(false), selection(nullptr), n_inputs(0), n_targets(0), current_example(-1),
      inputs(nullptr), targets(nullptr), n_examples(0), n_real_examples(0) {}

DataSet::~DataSet() {}

void DataSet::init(int n, int n_inputs_, int n_targets_) {
    if (n < 0) error("DataSet: cannot hold a negative number of examples (%d)", n);
    n_examples = n_real_examples = n;
    n_inputs = n_inputs_;
    n_targets = n_targets_;
    select_examples = false;
    selection = static_cast<int*>(allocator->realloc(selection, (long)sizeof(int) * n));
    for (int i = 0; i < n; i++) selection[i] = i;
}

void DataSet::setExample(int t, bool set_inputs, bool set_targets) {
    if (t < 0 || t >= n_examples) error("DataSet: example %d out of range (%d examples)", t, n_examples);
    if (select_examples) t = selection[t];
    setRealExample(t, set_inputs, set_targets);
}

void DataSet::rebuildSelection() {
    int n = subsets_sizes[n_subsets - 1];
    selection = static_cast<int*>(allocator->realloc(selection, (long)sizeof(int) * n));
    for (int i = 0; i < n; i++) {
        int index = subsets[n_subsets - 1][i];
        for (int k = n_subsets - 2; k >= 0; k--) index = subsets[k][index];
        selection[i] = index;
    }
    n_examples = n;
    select_examples = true;
}

void DataSet::pushSubset(int* subset, int n) {
    if (n < 0) error("DataSet: cannot push a subset of negative size (%d)", n);
    for (int i = 0; i < n; i++)
        if (subset[i] < 0 || subset[i] >= n_examples)
            error("DataSet: subset index %d out of range (%d examples)", subset[i], n_examples);
    subsets = static_cast<int**>(allocator->realloc(subsets, (long)sizeof(int*) * (n_subsets + 1)));
    subsets_sizes = static_cast<int*>(allocator->realloc(subsets_sizes, (long)sizeof(int) * (n_subsets + 1)));
    int* copy = static_cast<int*>(allocator->alloc((long)sizeof(int) * n));
    if (n > 0) memcpy(copy, subset, sizeof(int) * (size_t)n);
    subsets[n_subsets] = copy;
    subsets_sizes[n_subsets] = n;
    n_subsets++;
    rebuildSelection();
}

void DataSet::popSubset() {
    if (n_subsets == 0) error("DataSet: cannot pop a subset, none is pushed");
    n_subsets--;
    allocator->free(subsets[n_subsets]);
    subsets[n_subsets] = nullptr;
    if (n_subsets > 0) {
        rebuildSelection();
        return;
    }
    n_examples = n_real_examples;
    select_examples = false;
    selection = static_cast<int*>(allocator->realloc(selection, (long)sizeof(int) * n_examples));
    for (int i = 0; i < n_examples; i++) selection[i] = i;
}

}  // namespace vision
