#pragma once
// Helpers shared by the detection tests: fatal-error checks and message capture.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "temp_dir.h"
#include "visionlib/Message.h"

// The library prints fatal errors on standard output; death tests read standard error.
#define EXPECT_FATAL(statement, regex)                   \
    EXPECT_EXIT(                                         \
        {                                                \
            ::dup2(2, 1);                                \
            statement;                                   \
        },                                               \
        ::testing::ExitedWithCode(255), regex)

// Collects every text the library prints while it lives, without the standard-output copies.
class CapturedMessages : public vision::MessageHandler {
public:
    std::string printed, warnings, errors;
    CapturedMessages() : vision::MessageHandler(true) {}
    void error(const char* text) override { errors += text; }
    void warning(const char* text) override { warnings += text; }
    void message(const char* text) override {}
    void print(const char* text) override { printed += text; }
};

#include <cstdio>
#include <fstream>
#include <vector>

#include "uniform_cascade.h"
#include "visionlib/DiskXFile.h"

namespace testhelp {

// A cascade that accepts every window with confidence `value` (or, acceptAll false, rejects each).
using fixtures::writeUniformCascade;

inline void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A fresh folder named after the running test, unique to this run and removed when the program ends.
inline std::string freshDir(const std::string& tag = "") { return testutil::scratchDir(tag); }

// A multi-view directory whose trees hold one model each; the routers pick the plane.
inline std::string multiViewDir(bool inplane, int inId, int outId) {
    const std::string d = testhelp::freshDir(inplane ? "_in" : "_out");
    testhelp::writeUniformCascade(d + "/top.cascade", true, 1);
    testhelp::writeUniformCascade(d + "/inr.cascade", inplane, 1);
    testhelp::writeUniformCascade(d + "/outr.cascade", !inplane, 1);
    testhelp::writeUniformCascade(d + "/in0.cascade", true, 2);
    testhelp::writeUniformCascade(d + "/out0.cascade", true, 2);
    testhelp::writeText(d + "/pyramid-cascade.model",
                        "toplevel_model top.cascade toplevel_threshold 0\n"
                        "inplane_router_model inr.cascade inplane_router_threshold 0\n"
                        "outplane_router_model outr.cascade outplane_router_threshold 0\n"
                        "inplane_list in.list inplane_connect in.connect\n"
                        "outplane_list out.list outplane_connect out.connect\n");
    testhelp::writeText(d + "/in.list", "n_models 1 model[0] in0.cascade threshold[0] 0 id[0] " + std::to_string(inId) + "\n");
    testhelp::writeText(d + "/out.list", "n_models 1 model[0] out0.cascade threshold[0] 0 id[0] " + std::to_string(outId) + "\n");
    testhelp::writeText(d + "/in.connect", "1 1 x\n");
    testhelp::writeText(d + "/out.connect", "1 1 x\n");
    return d;
}

}  // namespace testhelp
