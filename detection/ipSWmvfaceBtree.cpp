#include "detection/ipSWmvfaceBtree.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include <sys/stat.h>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

// ---------------------------------------------------------------------------------------------
// ipSWnodeBtree

ipSWnodeBtree::ipSWnodeBtree(int width_image, int height_image, int width_pattern, int height_pattern,
                             ipSWmctMS* cascade_, int id_, bool normalise_, real mu_, real stdv_, bool verbose_)
    : ipSubWindow(width_image, height_image, width_pattern, height_pattern, cascade_ ? cascade_->threshold : 0),
      cascade(cascade_), id(id_), normalise(normalise_), mu(mu_), stdv(stdv_), sqrt_stdv(std::sqrt(stdv_)),
      left(nullptr), right(nullptr) {
    verbose = verbose_;
    view = id;
}

void ipSWnodeBtree::placeLike(const ipSubWindow& other) {
    width_image = other.width_image;
    height_image = other.height_image;
    setSize(other.window_width, other.window_height);
    setX(other.x);
    setY(other.y);
}

real ipSWnodeBtree::normalised(real c) const {
    const double d = (double)c - mu;
    return (real)(std::sqrt(1.0 / (2.0 * M_PI * sqrt_stdv)) * std::exp(-d * d / (2.0 * stdv)));
}

void ipSWnodeBtree::process(Sequence* input) {
    // The tree is acyclic (checked when it is built), so this recursion ends.
    cascade->threshold = threshold;
    cascade->width_image = width_image;
    cascade->height_image = height_image;
    cascade->setSize(window_width, window_height);
    cascade->setX(x);
    cascade->setY(y);
    cascade->process(input);

    is_pattern = false;
    real confidence_out = -FLT_MAX;
    view = id;
    ipSWnodeBtree* next = cascade->is_pattern ? left : right;
    if (verbose) {
        print("ipSWnodeBtree::process()\n");
        print(left ? " + left=%d\n" : " + left=none\n", left ? left->id : 0);
        print(right ? " + right=%d\n" : " + right=none\n", right ? right->id : 0);
    }
    if (next) {
        next->placeLike(*this);
        next->process(input);
        is_pattern = next->is_pattern;
        confidence_out = next->confidence();
        view = next->view;
    } else if (cascade->is_pattern) {
        is_pattern = true;
        confidence_out = normalise ? normalised(cascade->confidence()) : cascade->confidence();
    }
    if (verbose) print(is_pattern ? "ispattern = true\n" : "ispattern = false\n");
    output->frames[0][0] = confidence_out;
}

void ipSWnodeBtree::stat() { cascade->stat(); }

// ---------------------------------------------------------------------------------------------
// Paths and model files

std::string modelPath(const char* directory, const char* name) {
    if (directory == nullptr || directory[0] == '\0') return name;
    std::string path = directory;
    const char last = path.back();
    if (last != '/' && last != '\\') path += '/';
    path += name;
    return path;
}

namespace {

// The directory's text files are small: a larger one is refused before it is read.
std::string textFilePath(const char* directory, const char* name) {
    std::string path = modelPath(directory, name);
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > MAX_MULTIVIEW_TEXT_BYTES)
        error("ipSWmvfaceBtree: %s is larger than the limit of %d bytes", path.c_str(), MAX_MULTIVIEW_TEXT_BYTES);
    return path;
}

}  // namespace

PyramidCascadeModel readPyramidCascadeModel(const char* directory, bool normalised, Allocator* allocator) {
    PyramidCascadeModel m;
    m.inplane_router_mu = m.outplane_router_mu = 0;
    m.inplane_router_stdv = m.outplane_router_stdv = 1.0f;
    CmdFile* cmd = new (allocator) CmdFile();
    m.file = cmd;
    cmd->info("Pyramid-Cascade");
    cmd->addText("\nTop-level model and threshold : ");
    cmd->addStringParameter("toplevel_model", &m.toplevel_model, "top-level model");
    cmd->addRealParameter("toplevel_threshold", &m.toplevel_threshold, "top-level threshold");
    cmd->addText("\nInplane router model and threshold : ");
    cmd->addStringParameter("inplane_router_model", &m.inplane_router_model, "inplane router model");
    cmd->addRealParameter("inplane_router_threshold", &m.inplane_router_threshold, "inplane router threshold");
    if (normalised) {
        cmd->addRealParameter("inplane_router_mu", &m.inplane_router_mu, "inplane router mean");
        cmd->addRealParameter("inplane_router_stdv", &m.inplane_router_stdv, "inplane router variance");
    }
    cmd->addText("\nOutplane router model and threshold : ");
    cmd->addStringParameter("outplane_router_model", &m.outplane_router_model, "outplane router model");
    cmd->addRealParameter("outplane_router_threshold", &m.outplane_router_threshold, "outplane router threshold");
    if (normalised) {
        cmd->addRealParameter("outplane_router_mu", &m.outplane_router_mu, "outplane router mean");
        cmd->addRealParameter("outplane_router_stdv", &m.outplane_router_stdv, "outplane router variance");
    }
    cmd->addText("\nInplane models and connections : ");
    cmd->addStringParameter("inplane_list", &m.inplane_list, "list of inplane models");
    cmd->addStringParameter("inplane_connect", &m.inplane_connect, "connections between inplane models");
    cmd->addText("\nOutplane models and connections : ");
    cmd->addStringParameter("outplane_list", &m.outplane_list, "list of outplane models");
    cmd->addStringParameter("outplane_connect", &m.outplane_connect, "connections between outplane models");
    cmd->read(textFilePath(directory, "pyramid-cascade.model").c_str(), true);
    return m;
}

ipSWmvfaceBtree* loadMultiViewTree(const char* directory, bool normalised, real* integral_sums, int width_image,
                                   int height_image, Allocator* allocator, bool verbose) {
    const PyramidCascadeModel m = readPyramidCascadeModel(directory, normalised, allocator);
    ipSWmvfaceBtree* tree = new (allocator) ipSWmvfaceBtree(
        integral_sums, width_image, height_image, 19, 19, directory, normalised, m.toplevel_model,
        m.toplevel_threshold, m.inplane_router_model, m.inplane_router_threshold, m.inplane_router_mu,
        m.inplane_router_stdv, m.outplane_router_model, m.outplane_router_threshold, m.outplane_router_mu,
        m.outplane_router_stdv, m.inplane_list, m.inplane_connect, m.outplane_list, m.outplane_connect, verbose);
    allocator->free(m.file);  // the tree has read what it needs from it
    return tree;
}

// ---------------------------------------------------------------------------------------------
// ipSWmvfaceBtree

ipSWmvfaceBtree::ipSWmvfaceBtree(real* integral_sums, int width_image, int height_image, int width_pattern,
                                 int height_pattern, const char* directory_, bool normalised_,
                                 const char* toplevel_model, real toplevel_threshold, const char* inplane_router_model,
                                 real inplane_router_threshold, real inplane_router_mu, real inplane_router_stdv,
                                 const char* outplane_router_model, real outplane_router_threshold,
                                 real outplane_router_mu, real outplane_router_stdv, const char* inplane_list_file,
                                 const char* inplane_connect_file, const char* outplane_list_file,
                                 const char* outplane_connect_file, bool verbose_)
    : ipSubWindow(width_image, height_image, width_pattern, height_pattern, 0), frontal(nullptr),
      inplane_router(nullptr), outplane_router(nullptr), n_inplane(0), inplanes(nullptr), n_outplane(0),
      outplanes(nullptr), inplane_list(nullptr), outplane_list(nullptr), sums(integral_sums),
      directory(directory_), normalised(normalised_) {
    verbose = verbose_;
    if (verbose) {
        print("ipSWmvfaceBtree::ipSWmvfaceBtree()\n");
        print("   width_image=%d\n   height_image=%d\n   width_pattern=%d\n   height_pattern=%d\n", width_image,
              height_image, width_pattern, height_pattern);
    }
    // Every file of the directory is read and checked before the first cascade loads: a list that
    // names one large cascade a thousand times is refused without loading it even once.
    const PlaneList in = readList(inplane_list_file, true), out = readList(outplane_list_file, false);
    inplane_list = in.file;
    outplane_list = out.file;
    const Links in_links = readConnect(inplane_connect_file, in.n);
    const Links out_links = readConnect(outplane_connect_file, out.n);
    std::vector<const char*> models = {toplevel_model, inplane_router_model, outplane_router_model};
    for (const PlaneList* plane : {&in, &out})
        for (int i = 0; i < plane->n; i++) models.push_back(plane->models[i]);
    checkModelBytes(models);

    frontal = makeNode(toplevel_model, toplevel_threshold, 0, false, 0, 1.0f);
    inplane_router = makeNode(inplane_router_model, inplane_router_threshold, 0, normalised, inplane_router_mu,
                              inplane_router_stdv);
    outplane_router = makeNode(outplane_router_model, outplane_router_threshold, 0, normalised,
                               outplane_router_mu, outplane_router_stdv);
    inplanes = makeNodes(in, &n_inplane);
    outplanes = makeNodes(out, &n_outplane);
    link(in_links, n_inplane, inplanes, "inplane");
    link(out_links, n_outplane, outplanes, "outplane");
    cascades.clear();
    directory = nullptr;  // only needed while building
}

namespace {

// One entry per file, so that a cascade named twice (or under two names) is loaded once.
std::string fileKey(const std::string& path, long long* size) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        *size = 0;
        return "?" + path;  // its load will say why it cannot be read
    }
    *size = S_ISREG(st.st_mode) ? (long long)st.st_size : 0;
    return std::to_string((unsigned long long)st.st_dev) + ":" + std::to_string((unsigned long long)st.st_ino);
}

}  // namespace

void ipSWmvfaceBtree::checkModelBytes(const std::vector<const char*>& models) {
    std::set<std::string> seen;
    long long total = 0;
    for (const char* model : models) {
        if (model == nullptr || model[0] == '\0') error("ipSWmvfaceBtree: empty model name.");
        long long size = 0;
        if (seen.insert(fileKey(modelPath(directory, model), &size)).second) total += size;
        if (total > MAX_MULTIVIEW_CASCADE_BYTES)
            error("ipSWmvfaceBtree: the cascades of %s take more than the limit of %d bytes", directory,
                  MAX_MULTIVIEW_CASCADE_BYTES);
    }
}

ipSWmctMS* ipSWmvfaceBtree::makeCascade(const char* model, real threshold) {
    const std::string path = modelPath(directory, model);
    long long size = 0;
    ipSWmctMS*& cascade = cascades[fileKey(path, &size)];
    if (cascade == nullptr)
        cascade = new (allocator) ipSWmctMS(sums, width_image, height_image, width_pattern, height_pattern,
                                            path.c_str(), threshold, false);
    return cascade;
}

ipSWnodeBtree* ipSWmvfaceBtree::makeNode(const char* model, real threshold, int id, bool normalise, real mu,
                                         real stdv) {
    ipSWmctMS* cascade = makeCascade(model, threshold);
    ipSWnodeBtree* node = new (allocator) ipSWnodeBtree(width_image, height_image, width_pattern, height_pattern,
                                                        cascade, id, normalise, mu, stdv, verbose);
    node->threshold = threshold;  // a shared cascade decides with the threshold of the node that runs it
    return node;
}

ipSWmvfaceBtree::PlaneList ipSWmvfaceBtree::readList(const char* list_file, bool inplane) {
    PlaneList list{};
    if (list_file == nullptr || list_file[0] == '\0') return list;  // no models for this plane
    const std::string path = textFilePath(directory, list_file);

    CmdFile* cmd = new (allocator) CmdFile();
    list.file = cmd;
    int n_models = 0;
    cmd->info(inplane ? "List of in-plane models and corresponding thresholds"
                      : "List of out-plane models and corresponding thresholds");
    cmd->addText(inplane ? "\nNumber of in-plane models : " : "\nNumber of out-plane models : ");
    cmd->addIntParameter("n_models", &n_models, "Number of models");
    cmd->read(path.c_str(), false);
    if (n_models < 1) error("Number of models in file %s must be at least 1.", path.c_str());
    // Every model needs its own "model[i]" line in this file.
    if (n_models > cmd->n_tokens / 2 - 1) error("Number of models declared != Number of models actually listed");
    if (n_models > MAX_MULTIVIEW_LIST_MODELS)
        error("The list %s declares %d models, more than the limit of %d.", path.c_str(), n_models,
              MAX_MULTIVIEW_LIST_MODELS);

    cmd->addText("\nInit models filename : ");
    cmd->addStringOptionArray("model[%d]", &list.models, "", "Model filename", n_models);
    cmd->addText("\nInit thresholds : ");
    cmd->addRealOptionArray("threshold[%d]", &list.thresholds, -FLT_MAX, "Threshold", n_models);
    cmd->addText("\nInit models name : ");
    cmd->addStringOptionArray("name[%d]", &list.names, "", "Model name", n_models);
    cmd->addText("\nInit models id : ");
    cmd->addIntOptionArray("id[%d]", &list.ids, 0, "Id", n_models);
    if (normalised) {
        cmd->addText("\nNormalisation : ");
        cmd->addRealOptionArray("mu[%d]", &list.mus, 0, "Mean", n_models);
        cmd->addRealOptionArray("stdv[%d]", &list.stdvs, 1.0f, "Variance", n_models);
    }
    cmd->setValues();

    for (int i = 0; i < n_models; i++)
        if (list.models[i][0] == '\0') error("Number of models declared != Number of models actually listed");

    if (verbose) {
        print("# Number of %s models : %d\n", inplane ? "inplane" : "outplane", n_models);
        for (int i = 0; i < n_models; i++) {
            print(" + model[%d] : %s\n", i, list.models[i]);
            print("   threshold = %g\n", (double)list.thresholds[i]);
            print("   name : %s\n", list.names[i]);
            print("   id = %d\n", list.ids[i]);
            if (normalised) print("   mu = %g\n   stdv = %g\n", (double)list.mus[i], (double)list.stdvs[i]);
        }
    }
    list.n = n_models;
    return list;
}

ipSWnodeBtree** ipSWmvfaceBtree::makeNodes(const PlaneList& list, int* n) {
    *n = 0;
    if (list.n == 0) return nullptr;
    ipSWnodeBtree** nodes = (ipSWnodeBtree**)allocator->alloc((long)sizeof(ipSWnodeBtree*) * list.n);
    for (int i = 0; i < list.n; i++)
        nodes[i] = makeNode(list.models[i], list.thresholds[i], list.ids[i], normalised,
                            normalised ? list.mus[i] : 0, normalised ? list.stdvs[i] : 1.0f);
    *n = list.n;
    return nodes;
}

ipSWmvfaceBtree::Links ipSWmvfaceBtree::readConnect(const char* connect_file, int n) {
    const std::string path = textFilePath(directory, connect_file ? connect_file : "");
    const std::vector<std::string> words = readFileWords(path.c_str());
    if (verbose) print("Loading connect file %s ...\n", path.c_str());
    if (words.size() < 2) error("Number of rows/cols incorrect in file %s.", connect_file);
    const int rows = std::atoi(words[0].c_str()), cols = std::atoi(words[1].c_str());
    if (verbose) print("n rows = %d\nn cols = %d\n", rows, cols);
    if (rows != n || cols != n || words.size() < 2 + (size_t)rows * cols)
        error("Number of rows/cols incorrect in file %s.", connect_file);
    Links links{std::vector<int>(n, -1), std::vector<int>(n, -1)};
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            const std::string& w = words[2 + (size_t)i * cols + j];
            if (verbose) print("%s ", w.c_str());
            if (w[0] == 'L') links.left[i] = j;
            if (w[0] == 'R') links.right[i] = j;
        }
    if (verbose) print("\n");

    // A cycle would walk the tree forever: refuse it now. Depth-first, colouring nodes as they are
    // entered (1) and left (2); reaching a node that is still entered closes a cycle.
    std::vector<int> colour(n, 0);
    for (int start = 0; start < n; start++) {
        if (colour[start]) continue;
        std::vector<std::pair<int, int>> stack{{start, 0}};  // node, children visited
        colour[start] = 1;
        while (!stack.empty()) {
            auto& top = stack.back();
            if (top.second == 2) {
                colour[top.first] = 2;
                stack.pop_back();
                continue;
            }
            const int c = top.second++ == 0 ? links.left[top.first] : links.right[top.first];
            if (c < 0) continue;
            if (colour[c] == 1) error("Connections in file %s make a cycle.", connect_file);
            if (colour[c] == 0) {
                colour[c] = 1;
                stack.push_back({c, 0});
            }
        }
    }
    return links;
}

void ipSWmvfaceBtree::link(const Links& links, int n, ipSWnodeBtree** nodes, const char* plane) {
    for (int i = 0; i < n; i++) {
        nodes[i]->left = links.left[i] < 0 ? nullptr : nodes[links.left[i]];
        nodes[i]->right = links.right[i] < 0 ? nullptr : nodes[links.right[i]];
    }
    if (verbose) {
        print("Check %s connect ...\n", plane);
        for (int i = 0; i < n; i++) {
            print("node %d:\n", i);
            print(" + wiew=%d\n", nodes[i]->id);
            if (links.left[i] >= 0)
                print(" + left=%d\n", links.left[i]);
            else
                print(" + left=none\n");
            if (links.right[i] >= 0)
                print(" + right=%d\n", links.right[i]);
            else
                print(" + right=none\n");
        }
    }
}

bool ipSWmvfaceBtree::decide(ipSWnodeBtree* root, Sequence* input) {
    // A plane without models has no tree: its windows are not patterns.
    if (root == nullptr) return false;
    root->placeLike(*this);
    root->process(input);
    is_pattern = root->is_pattern;
    output->frames[0][0] = root->confidence();
    view = root->view;
    return true;
}

void ipSWmvfaceBtree::process(Sequence* input) {
    if (verbose) print("ipSWmvfaceBtree::process()\n");
    is_pattern = false;
    output->frames[0][0] = -FLT_MAX;
    view = 0;

    if (verbose) print("process Frontal ...\n");
    frontal->placeLike(*this);
    frontal->process(input);
    if (!frontal->is_pattern) return;

    if (verbose) print("process Inplane router ...\n");
    inplane_router->placeLike(*this);
    inplane_router->process(input);
    if (verbose) print("process Outplane router ...\n");
    outplane_router->placeLike(*this);
    outplane_router->process(input);

    const bool in = inplane_router->is_pattern, out = outplane_router->is_pattern;
    if (in && (!out || outplane_router->confidence() < inplane_router->confidence())) {
        if (verbose) print("process Inplane models ...\n");
        if (!decide(n_inplane > 0 ? inplanes[0] : nullptr, input)) view = 0;
    } else if (out) {
        if (verbose) print("process Outplane models ...\n");
        if (!decide(n_outplane > 0 ? outplanes[0] : nullptr, input)) view = 0;
    }
}

void ipSWmvfaceBtree::stat() {
    print("Stat frontal\n");
    frontal->stat();
    print("Stat inplane_router\n");
    inplane_router->stat();
    print("Stat inplanes\n");
    for (int i = 0; i < n_inplane; i++) inplanes[i]->stat();
    print("Stat outplane_router\n");
    outplane_router->stat();
    print("Stat outplanes\n");
    for (int i = 0; i < n_outplane; i++) outplanes[i]->stat();
}

}  // namespace vision
