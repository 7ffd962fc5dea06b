#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "detect_helpers.h"
#include "detection/ipIntegralImage.h"
#include "detection/ipSWmvfaceBtree.h"

using namespace vision;
using testhelp::writeText;
using testhelp::writeUniformCascade;

namespace {

// One cascade of the directory: accepts every window with this confidence, or rejects every window.
struct Model {
    const char* file;
    bool accept;
    float confidence;
};

struct Plane {
    std::vector<Model> models;
    std::vector<int> ids;
    std::string connect;  // connect file text
};

// A model directory laid out as the tracker expects it.
struct MultiViewDir {
    std::string dir;
    MultiViewDir(const Model& top, const Model& inRouter, const Model& outRouter, const Plane& in, const Plane& out,
                 bool normalised = false, const std::string& extra = "")
        : dir(testhelp::freshDir()) {
        for (const Model* m : {&top, &inRouter, &outRouter}) writeUniformCascade(dir + "/" + m->file, m->accept, m->confidence);
        std::string pyramid = "toplevel_model " + std::string(top.file) + " toplevel_threshold -100\n" +
                              "inplane_router_model " + inRouter.file + " inplane_router_threshold -100\n" +
                              "outplane_router_model " + outRouter.file + " outplane_router_threshold -100\n" +
                              "inplane_list in.list inplane_connect in.connect\n" +
                              "outplane_list out.list outplane_connect out.connect\n";
        if (normalised)
            pyramid += "inplane_router_mu 0 inplane_router_stdv 1 outplane_router_mu 0 outplane_router_stdv 1\n";
        writeText(dir + "/pyramid-cascade.model", pyramid + extra);
        writePlane(in, "in");
        writePlane(out, "out");
    }
    void writePlane(const Plane& p, const std::string& name) {
        std::string list = "n_models " + std::to_string(p.models.size()) + "\n";
        for (size_t i = 0; i < p.models.size(); i++) {
            writeUniformCascade(dir + "/" + p.models[i].file, p.models[i].accept, p.models[i].confidence);
            list += "model[" + std::to_string(i) + "] " + p.models[i].file + " threshold[" + std::to_string(i) +
                    "] -100 name[" + std::to_string(i) + "] m" + std::to_string(i) + " id[" + std::to_string(i) +
                    "] " + std::to_string(p.ids[i]) + "\n";
        }
        writeText(dir + "/" + name + ".list", list);
        writeText(dir + "/" + name + ".connect", p.connect);
    }
};

// A uniform gray frame and its integral images, with a window of the pattern size in the middle.
struct Frame {
    Sequence image{1, 48 * 48};
    ipIntegralImage ii{48, 48, "gray", true};
    Frame() {
        for (int i = 0; i < 48 * 48; i++) image.frames[0][i] = 0.5f;
        ii.process(&image);
    }
    void classify(ipSubWindow& sw) {
        sw.setSize(19, 19);
        sw.setX(10);
        sw.setY(12);
        sw.process(&image);
    }
};

const Plane singleModel(const char* file, bool accept, int id) { return Plane{{{file, accept, 1}}, {id}, "1 1 x\n"}; }

}  // namespace

TEST(MultiViewTree, RoutesToThePlaneAndTheDecidingNode) {
    struct Case {
        const char* what;
        bool top, in, out;
        float inConf, outConf;
        bool pattern;
        int view;
    } cases[] = {
        {"frontal rejects", false, true, true, 1, 2, false, 0},
        {"in-plane router only", true, true, false, 1, 0, true, 3},
        {"out-plane router only", true, false, true, 0, 1, true, 7},
        {"stronger in-plane router", true, true, true, 2, 1, true, 3},
        {"equal routers choose out-of-plane", true, true, true, 1.5f, 1.5f, true, 7},
        {"neither router", true, false, false, 0, 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MultiViewDir d({"top.cascade", c.top, 1}, {"inr.cascade", c.in, c.inConf}, {"outr.cascade", c.out, c.outConf},
                       singleModel("in0.cascade", true, 3), singleModel("out0.cascade", true, 7));
        Frame f;
        Object owner;
        ipSWmvfaceBtree* tree = loadMultiViewTree(d.dir.c_str(), false, f.ii.sums(), 48, 48, owner.allocator);
        f.classify(*tree);
        EXPECT_EQ(tree->is_pattern, c.pattern);
        EXPECT_EQ(tree->view, c.view);
        EXPECT_EQ(tree->confidence(), c.pattern ? 1.0f : -FLT_MAX);
    }
}

TEST(MultiViewTree, ConnectFileLinksTheLeftChild) {
    // Model 1 is model 0's left child: a window that model 0 accepts is decided by model 1.
    struct Case {
        bool second;
        bool pattern;
        int view;
        float confidence;
    } cases[] = {{true, true, 2, 4.0f}, {false, false, 2, -FLT_MAX}};
    for (const Case& c : cases) {
        Plane in{{{"a.cascade", true, 3.0f}, {"b.cascade", c.second, 4.0f}}, {1, 2}, "2 2\nx L\nx x\n"};
        MultiViewDir d({"top.cascade", true, 1}, {"inr.cascade", true, 1}, {"outr.cascade", false, 0}, in,
                       singleModel("o.cascade", true, 5));
        Frame f;
        Object owner;
        ipSWmvfaceBtree* tree = loadMultiViewTree(d.dir.c_str(), false, f.ii.sums(), 48, 48, owner.allocator);
        ASSERT_EQ(tree->n_inplane, 2);
        EXPECT_EQ(tree->inplanes[0]->left, tree->inplanes[1]);
        EXPECT_EQ(tree->inplanes[0]->right, nullptr);
        f.classify(*tree);
        EXPECT_EQ(tree->is_pattern, c.pattern);
        EXPECT_EQ(tree->view, c.view);
        EXPECT_EQ(tree->confidence(), c.confidence);
    }
    // Rejection walks right.
    Plane in{{{"a.cascade", false, 3.0f}, {"b.cascade", true, 4.0f}}, {1, 6}, "2 2 x R x x"};
    MultiViewDir d({"top.cascade", true, 1}, {"inr.cascade", true, 1}, {"outr.cascade", false, 0}, in,
                   singleModel("o.cascade", true, 5));
    Frame f;
    Object owner;
    ipSWmvfaceBtree* tree = loadMultiViewTree(d.dir.c_str(), false, f.ii.sums(), 48, 48, owner.allocator);
    f.classify(*tree);
    EXPECT_TRUE(tree->is_pattern);
    EXPECT_EQ(tree->view, 6);
}

TEST(MultiViewTree, NormalisedConfidence) {
    Plane in{{{"a.cascade", true, 0.0f}}, {1}, "1 1 x\n"};
    MultiViewDir d({"top.cascade", true, 1}, {"inr.cascade", true, 1}, {"outr.cascade", false, 0}, in,
                   singleModel("o.cascade", true, 5), true);
    // The list gives model 0 mean 0 and variance 1 by default.
    Frame f;
    Object owner;
    ipSWmvfaceBtree* tree = loadMultiViewTree(d.dir.c_str(), true, f.ii.sums(), 48, 48, owner.allocator);
    f.classify(*tree);
    ASSERT_TRUE(tree->is_pattern);
    EXPECT_NEAR(tree->confidence(), 0.398942f, 1e-5);
    EXPECT_NEAR(tree->inplanes[0]->normalised(0), 1.0 / std::sqrt(2 * M_PI), 1e-6);
    // The exponent takes the variance itself, the factor its square root.
    ipSWnodeBtree node(48, 48, 19, 19, tree->inplanes[0]->cascade, 0, true, 1.0f, 4.0f, false);
    EXPECT_NEAR(node.normalised(3.0f), std::sqrt(1 / (2 * M_PI * 2)) * std::exp(-4.0 / 8.0), 1e-6);
}

TEST(MultiViewTree, ModelPaths) {
    EXPECT_EQ(modelPath("", "a.cascade"), "a.cascade");
    EXPECT_EQ(modelPath(nullptr, "a.cascade"), "a.cascade");
    EXPECT_EQ(modelPath("models/mv", "a.cascade"), "models/mv/a.cascade");
    EXPECT_EQ(modelPath("models/mv/", "a.cascade"), "models/mv/a.cascade");
    EXPECT_EQ(modelPath("models\\mv\\", "a.cascade"), "models\\mv\\a.cascade");
}

TEST(MultiViewTreeDeathTest, DamagedDirectoriesAreFatal) {
    const Model top{"top.cascade", true, 1}, inr{"inr.cascade", true, 1}, outr{"outr.cascade", true, 1};
    const Plane one = singleModel("m.cascade", true, 1);
    struct Case {
        const char* what;
        Plane in;
        std::string pyramidExtra;
        bool normalised;
        bool dropOutConnect;
        const char* message;
    } cases[] = {
        {"unknown name without normalisation", one, "inplane_router_mu 0\n", false, false,
         "CmdFile: <inplane_router_mu> option or parameter incorrect"},
        {"too few models listed", Plane{{{"a.cascade", true, 1}, {"b.cascade", true, 1}}, {0, 1}, "2 2 x x x x"}, "",
         false, false, "Number of models declared != Number of models actually listed"},
        {"cycle", Plane{{{"a.cascade", true, 1}, {"b.cascade", true, 1}}, {0, 1}, "2 2 x L R x"}, "", false, false,
         "Connections in file in.connect make a cycle"},
        {"self link", Plane{{{"a.cascade", true, 1}}, {0}, "1 1 L"}, "", false, false,
         "Connections in file in.connect make a cycle"},
        {"rows and columns", Plane{{{"a.cascade", true, 1}}, {0}, "2 2 x x x x"}, "", false, false,
         "Number of rows/cols incorrect in file in.connect\\."},
        {"short connect file", Plane{{{"a.cascade", true, 1}, {"b.cascade", true, 1}}, {0, 1}, "2 2 x L"}, "", false,
         false, "Number of rows/cols incorrect in file in.connect\\."},
        {"missing connect file", one, "", false, true, "cannot open"},
        {"missing router mean with normalisation", one, "", true, false,
         "CmdFile: parameter <inplane_router_mu> not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MultiViewDir d(top, inr, outr, c.in, one, false, c.pyramidExtra);
        if (c.what == std::string("too few models listed"))  // declare three, list two
            writeText(d.dir + "/in.list", "n_models 3 model[0] a.cascade model[1] b.cascade\n");
        if (c.dropOutConnect) std::remove((d.dir + "/out.connect").c_str());
        const std::string dir = d.dir;
        const bool normalised = c.normalised;
        EXPECT_FATAL(
            {
                Frame f;
                Object owner;
                loadMultiViewTree(dir.c_str(), normalised, f.ii.sums(), 48, 48, owner.allocator);
            },
            c.message);
    }

    // Lists that declare no models, or leave a name empty.
    // A count far beyond what the file lists is refused before anything is registered for it.
    for (const char* list : {"n_models 0\n", "n_models -2\n", "n_models 2 model[1] m.cascade\n",
                             "n_models 2000000000 model[0] m.cascade\n"}) {
        SCOPED_TRACE(list);
        MultiViewDir d(top, inr, outr, one, one);
        writeText(d.dir + "/in.list", list);
        const std::string dir = d.dir;
        EXPECT_FATAL(
            {
                Frame f;
                Object owner;
                loadMultiViewTree(dir.c_str(), false, f.ii.sums(), 48, 48, owner.allocator);
            },
            std::string(list).find(" model[") != std::string::npos
                ? "Number of models declared != Number of models actually listed"
                : "Number of models in file .*in.list must be at least 1");
    }

    // "pyramid-cascade.model" without "outplane_connect".
    MultiViewDir d(top, inr, outr, one, one);
    writeText(d.dir + "/pyramid-cascade.model",
              "toplevel_model top.cascade toplevel_threshold 0 inplane_router_model inr.cascade "
              "inplane_router_threshold 0 outplane_router_model outr.cascade outplane_router_threshold 0 "
              "inplane_list in.list inplane_connect in.connect outplane_list out.list\n");
    const std::string dir = d.dir;
    EXPECT_FATAL(
        {
            Frame f;
            Object owner;
            loadMultiViewTree(dir.c_str(), false, f.ii.sums(), 48, 48, owner.allocator);
        },
        "CmdFile: parameter <outplane_connect> not found");
}

namespace {

// A list of n models that all name `file`, and a connect file of n x n words without links.
void writeSameModelList(const std::string& dir, int n, const std::string& file) {
    std::string list = "n_models " + std::to_string(n) + "\n", connect = std::to_string(n) + " " + std::to_string(n) + "\n";
    for (int i = 0; i < n; i++) {
        const std::string k = "[" + std::to_string(i) + "] ";
        list += "model" + k + file + " threshold" + k + "-100 id" + k + "1\n";
    }
    for (int i = 0; i < n * n; i++) connect += "x ";
    writeText(dir + "/in.list", list);
    writeText(dir + "/in.connect", connect);
}

// Blanks after a text file's words, up to `size` bytes.
void padWithBlanks(const std::string& path, size_t size) {
    std::ofstream(path, std::ios::binary | std::ios::app) << std::string(size - std::filesystem::file_size(path), ' ');
}

ipSWmvfaceBtree* load(const std::string& dir, Frame& f, Object& owner) {
    return loadMultiViewTree(dir.c_str(), false, f.ii.sums(), 48, 48, owner.allocator);
}

}  // namespace

TEST(MultiViewTreeDeathTest, ListsAreCheckedBeforeAnyCascadeLoads) {
    // A thousand lines naming one 1 MB cascade loaded it a thousand times (24 s, 3.3 GB) before the
    // directory was refused. The top-level cascade is damaged here: its load would fail with another
    // message, so the refusal shows that nothing was loaded first.
    const Plane one = singleModel("m.cascade", true, 1);
    MultiViewDir d({"top.cascade", true, 1}, {"inr.cascade", true, 1}, {"outr.cascade", true, 1}, one, one);
    writeUniformCascade(d.dir + "/big.cascade", true, 1);
    std::filesystem::resize_file(d.dir + "/big.cascade", 1 << 20);
    writeText(d.dir + "/top.cascade", "not a cascade");
    writeSameModelList(d.dir, 1000, "big.cascade");
    const std::string dir = d.dir;
    EXPECT_FATAL(
        {
            Frame f;
            Object owner;
            load(dir, f, owner);
        },
        "The list .*in.list declares 1000 models, more than the limit of 64\\.");
}

TEST(MultiViewTreeDeathTest, DirectoryLimitsAreCrossedByOne) {
    const Plane one = singleModel("m.cascade", true, 1);
    struct Case {
        const char* what;
        std::function<void(const std::string&)> prepare;
        const char* refusal;  // null: it loads
    } cases[] = {
        {"64 models", [](const std::string& dir) { writeSameModelList(dir, 64, "m.cascade"); }, nullptr},
        {"65 models", [](const std::string& dir) { writeSameModelList(dir, 65, "m.cascade"); },
         "The list .*in.list declares 65 models, more than the limit of 64\\."},
        // The five distinct cascades, one of them padded (its reader ignores the tail) to the limit or past it.
        {"cascades of 32 MiB",
         [](const std::string& dir) {
             std::filesystem::resize_file(dir + "/top.cascade", MAX_MULTIVIEW_CASCADE_BYTES - 4 * std::filesystem::file_size(dir + "/m.cascade"));
         },
         nullptr},
        {"cascades of 32 MiB and a byte",
         [](const std::string& dir) {
             std::filesystem::resize_file(dir + "/top.cascade", MAX_MULTIVIEW_CASCADE_BYTES - 4 * std::filesystem::file_size(dir + "/m.cascade") + 1);
         },
         "the cascades of .* take more than the limit of 33554432 bytes"},
        {"list of 64 KiB", [](const std::string& dir) { padWithBlanks(dir + "/in.list", 65536); }, nullptr},
        {"list of 64 KiB and a byte", [](const std::string& dir) { padWithBlanks(dir + "/in.list", 65537); },
         "in.list is larger than the limit of 65536 bytes"},
        {"connect file of 64 KiB and a byte",
         [](const std::string& dir) { padWithBlanks(dir + "/out.connect", 65537); },
         "out.connect is larger than the limit of 65536 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Distinct cascades: top, two routers and one per plane; their sizes are equal.
        MultiViewDir d({"top.cascade", true, 1}, {"inr.cascade", true, 1}, {"outr.cascade", true, 1}, one,
                       singleModel("o.cascade", true, 1));
        c.prepare(d.dir);
        const std::string dir = d.dir;
        if (c.refusal) {
            EXPECT_FATAL(
                {
                    Frame f;
                    Object owner;
                    load(dir, f, owner);
                },
                c.refusal);
        } else {
            Frame f;
            Object owner;
            EXPECT_NE(load(dir, f, owner), nullptr);
        }
    }
}

TEST(MultiViewTree, ACascadeNamedTwiceIsLoadedOnceAndDecidesWithEachNodesThreshold) {
    MultiViewDir d({"top.cascade", true, 1}, {"inr.cascade", true, 1}, {"outr.cascade", false, 0},
                   singleModel("a.cascade", true, 1), singleModel("o.cascade", true, 5));
    // Model 0 (threshold 100) rejects the window's confidence of 1 and walks right to model 1, the
    // same file under another name (threshold -100), which accepts it.
    writeText(d.dir + "/in.list",
              "n_models 2 model[0] a.cascade threshold[0] 100 id[0] 1 model[1] ./a.cascade threshold[1] -100 id[1] 2\n");
    writeText(d.dir + "/in.connect", "2 2 x R x x");
    Frame f;
    Object owner;
    ipSWmvfaceBtree* tree = load(d.dir, f, owner);
    ASSERT_EQ(tree->n_inplane, 2);
    EXPECT_EQ(tree->inplanes[0]->cascade, tree->inplanes[1]->cascade);
    EXPECT_NE(tree->inplanes[0]->cascade, tree->outplanes[0]->cascade);
    f.classify(*tree);
    EXPECT_TRUE(tree->is_pattern);
    EXPECT_EQ(tree->view, 2);
}
