#pragma once
// Multi-view window classifier: a frontal cascade filters the window, two router cascades pick the
// in-plane or out-of-plane tree, and a binary tree of cascades decides the view.
#include <map>
#include <string>
#include <vector>

#include "detection/CmdFile.h"
#include "detection/ipSWmctMS.h"
#include "detection/ipSubWindow.h"

namespace vision {

// What a model directory may hold, checked before any of its cascades loads. The shipped directory
// lists 5 and 4 models, its 12 cascades take 2.6 MB and its text files at most 349 bytes; a cascade
// named more than once (under any name) is loaded once and counts once.
const int MAX_MULTIVIEW_LIST_MODELS = 64;
const int MAX_MULTIVIEW_CASCADE_BYTES = 32 << 20;
const int MAX_MULTIVIEW_TEXT_BYTES = 65536;  // each of "pyramid-cascade.model", the lists and connect files

// One node of a view tree: walks left when its cascade accepts, right when it rejects; a node
// without the needed child decides.
class ipSWnodeBtree : public ipSubWindow {
public:
    ipSWmctMS* cascade;  // not owned; other nodes may share it
    int id;              // the view this node reports
    bool normalise;
    real mu;
    real stdv;
    real sqrt_stdv;
    ipSWnodeBtree* left;
    ipSWnodeBtree* right;

    ipSWnodeBtree(int width_image, int height_image, int width_pattern, int height_pattern, ipSWmctMS* cascade,
                  int id, bool normalise, real mu, real stdv, bool verbose);

    void process(Sequence* input) override;
    void stat() override;

    // Gives this node the window (and image size) of another classifier.
    void placeLike(const ipSubWindow& other);
    // Gaussian score of a cascade confidence.
    real normalised(real confidence) const;
};

class ipSWmvfaceBtree : public ipSubWindow {
public:
    ipSWnodeBtree* frontal;
    ipSWnodeBtree* inplane_router;
    ipSWnodeBtree* outplane_router;
    int n_inplane;
    ipSWnodeBtree** inplanes;
    int n_outplane;
    ipSWnodeBtree** outplanes;
    CmdFile* inplane_list;  // kept: the model names live in them
    CmdFile* outplane_list;

    // Model and file names are relative to directory. Any problem with them is fatal.
    ipSWmvfaceBtree(real* integral_sums, int width_image, int height_image, int width_pattern, int height_pattern,
                    const char* directory, bool normalised, const char* toplevel_model, real toplevel_threshold,
                    const char* inplane_router_model, real inplane_router_threshold, real inplane_router_mu,
                    real inplane_router_stdv, const char* outplane_router_model, real outplane_router_threshold,
                    real outplane_router_mu, real outplane_router_stdv, const char* inplane_list_file,
                    const char* inplane_connect_file, const char* outplane_list_file,
                    const char* outplane_connect_file, bool verbose);

    void process(Sequence* input) override;
    void stat() override;

private:
    // A plane's list file, read and checked; its strings live in `file`.
    struct PlaneList {
        CmdFile* file;
        int n;
        char** models;
        real* thresholds;
        char** names;
        int* ids;
        real* mus;
        real* stdvs;
    };
    // A plane's connect file: each model's left and right child, -1 for none.
    struct Links {
        std::vector<int> left, right;
    };

    real* sums;
    const char* directory;
    bool normalised;
    std::map<std::string, ipSWmctMS*> cascades;  // while building: the loaded cascade of each file

    // Refuses an empty name or cascades that take more than MAX_MULTIVIEW_CASCADE_BYTES together.
    void checkModelBytes(const std::vector<const char*>& models);
    ipSWmctMS* makeCascade(const char* model, real threshold);
    ipSWnodeBtree* makeNode(const char* model, real threshold, int id, bool normalise, real mu, real stdv);
    PlaneList readList(const char* list_file, bool inplane);
    ipSWnodeBtree** makeNodes(const PlaneList& list, int* n);
    Links readConnect(const char* connect_file, int n);
    void link(const Links& links, int n, ipSWnodeBtree** nodes, const char* plane);
    bool decide(ipSWnodeBtree* root, Sequence* input);
};

// "dir/name" ("name" alone without a directory; no second separator after a trailing '/' or '\').
std::string modelPath(const char* directory, const char* name);

// The values of a model directory's "pyramid-cascade.model" (with normalisation off the means are 0
// and the variances 1).
struct PyramidCascadeModel {
    CmdFile* file;  // holds the strings
    char* toplevel_model;
    real toplevel_threshold;
    char* inplane_router_model;
    real inplane_router_threshold;
    real inplane_router_mu;
    real inplane_router_stdv;
    char* outplane_router_model;
    real outplane_router_threshold;
    real outplane_router_mu;
    real outplane_router_stdv;
    char* inplane_list;
    char* inplane_connect;
    char* outplane_list;
    char* outplane_connect;
};

// Reads directory's "pyramid-cascade.model"; the CmdFile belongs to allocator.
PyramidCascadeModel readPyramidCascadeModel(const char* directory, bool normalised, Allocator* allocator);

// The tree of a whole model directory over an integral image; it belongs to allocator.
ipSWmvfaceBtree* loadMultiViewTree(const char* directory, bool normalised, real* integral_sums, int width_image,
                                   int height_image, Allocator* allocator, bool verbose = false);

}  // namespace vision
