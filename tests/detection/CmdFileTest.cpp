#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "detect_helpers.h"
#include "detection/CmdFile.h"
#include "test_data.h"

using namespace vision;

namespace {

// A parameter file with the given text, in a folder of its own removed when the test ends.
struct TextFile {
    testutil::TempDir dir{"cmdfile"};
    std::string path;
    explicit TextFile(const std::string& text, const std::string& name = "cmdfile.txt") : path(dir / name) {
        std::ofstream(path, std::ios::binary) << text;
    }
    const char* c_str() const { return path.c_str(); }
};

}  // namespace

TEST(CmdFile, ReadsTypedValues) {
    struct Case {
        const char* text;
        int n;
        float t;
        const char* model;
        bool flag;
        const char* warning;
    } cases[] = {
        {"n 3 t 0.5 model a.cascade flag true\n", 3, 0.5f, "a.cascade", true, ""},
        {"n 3\n", 3, -1.0f, "none", false, ""},
        // A commented-out name takes its value with it.
        {"n 1 #model a.cascade model b.cascade\n", 1, -1.0f, "b.cascade", false, ""},
        // The later of two values wins.
        {"n 1 n 2 t 1.5 t -2.25\n", 2, -2.25f, "none", false, ""},
        {"n 1 flag yes\n", 1, -1.0f, "none", false, "CmdFile: Incorrect bool value <yes> set to false"},
        {"n 12abc t 3e-2x\n", 12, 0.03f, "none", false, ""},
        // The last word counts even without white space after it.
        {"n 1 model last.cascade", 1, -1.0f, "last.cascade", false, ""},
        {"\t n\n\n7\r\n t  \t 0.25 ", 7, 0.25f, "none", false, ""},
    };
    for (const Case& c : cases) {
        TextFile file(c.text);
        CapturedMessages messages;
        CmdFile cmd;
        int n = -5;
        float t;
        char* model;
        bool flag;
        cmd.addIntParameter("n", &n, "count");
        cmd.addRealOption("t", &t, -1.0f, "threshold");
        cmd.addStringOption("model", &model, "none", "model file");
        cmd.addBoolOption("flag", &flag, false, "a flag");
        cmd.read(file.c_str(), true);
        EXPECT_EQ(n, c.n) << c.text;
        EXPECT_FLOAT_EQ(t, c.t) << c.text;
        EXPECT_STREQ(model, c.model) << c.text;
        EXPECT_EQ(flag, c.flag) << c.text;
        EXPECT_EQ(messages.warnings, c.warning) << c.text;
    }
}

TEST(CmdFile, LongWordsAreKeptWhole) {
    const std::string longName(5000, 'm');
    TextFile file("model " + longName + "\n");
    CmdFile cmd;
    char* model;
    cmd.addStringOption("model", &model, "", "model file");
    cmd.read(file.c_str(), true);
    EXPECT_EQ(std::string(model), longName);
}

TEST(CmdFile, UncheckedReadSkipsUnknownNames) {
    TextFile file("other 5 n_models 2 more words\n");
    CmdFile cmd;
    int n;
    cmd.addIntParameter("n_models", &n, "Number of models");
    cmd.read(file.c_str(), false);
    EXPECT_EQ(n, 2);
}

TEST(CmdFile, ArraysAndTheTwoStepRead) {
    TextFile file(
        "n_models 2\n"
        "model[0] front.cascade threshold[1] 0.5\n"
        "model[1] left.cascade id[1] 3\n");
    CmdFile cmd;
    int n = 0;
    cmd.addIntParameter("n_models", &n, "Number of models");
    cmd.read(file.c_str(), false);
    ASSERT_EQ(n, 2);
    char** models;
    float* thresholds;
    int* ids;
    cmd.addStringOptionArray("model[%d]", &models, "", "Model filename", n);
    cmd.addRealOptionArray("threshold[%d]", &thresholds, -3.4028235e38f, "Threshold", n);
    cmd.addIntOptionArray("id[%d]", &ids, 0, "Id", n);
    cmd.setValues();
    EXPECT_STREQ(models[0], "front.cascade");
    EXPECT_STREQ(models[1], "left.cascade");
    EXPECT_EQ(thresholds[0], -3.4028235e38f);
    EXPECT_EQ(thresholds[1], 0.5f);
    EXPECT_EQ(ids[0], 0);
    EXPECT_EQ(ids[1], 3);
    EXPECT_TRUE(cmd.entries[1].first);
    EXPECT_FALSE(cmd.entries[2].first);
    EXPECT_STREQ(cmd.entries[2].name, "model[1]");
}

TEST(CmdFile, AListOfHundredsOfThousandsOfModelsIsReadInLinearTime) {
    // Registering and matching were quadratic: 300,000 models kept the streaming thread busy for
    // minutes. This list would not finish before the test's time-out.
    const int n = 300000;
    std::string text = "n_models " + std::to_string(n) + "\n";
    for (int i = 0; i < n; i++) text += "model[" + std::to_string(i) + "] m" + std::to_string(i) + ".cascade\n";
    TextFile file(text);
    CmdFile cmd;
    int count = 0;
    cmd.addIntParameter("n_models", &count, "Number of models");
    cmd.read(file.c_str(), false);
    ASSERT_EQ(count, n);
    char** models;
    cmd.addStringOptionArray("model[%d]", &models, "", "Model filename", count);
    cmd.setValues();
    EXPECT_STREQ(models[0], "m0.cascade");
    EXPECT_STREQ(models[n - 1], ("m" + std::to_string(n - 1) + ".cascade").c_str());
}

TEST(CmdFile, PrintsTheHelp) {
    CapturedMessages out;
    CmdFile cmd;
    int n;
    float t;
    cmd.info("Pyramid-Cascade");
    cmd.addText("\nTop-level model and threshold : ");
    cmd.addIntParameter("n", &n, "count");
    cmd.addRealOption("threshold", &t, 0.5f, "Threshold");
    cmd.print();
    EXPECT_EQ(out.printed,
              "\n#### Pyramid-Cascade ####\n"
              "\nTop-level model and threshold : \n"
              "  n <int>          -> count (<int>)\n"
              "  threshold <real> -> Threshold [0.5]\n");
}

TEST(CmdFileDeathTest, FatalErrors) {
    TextFile withoutCount("other 1\n", "a.txt");
    TextFile unknown("n 1 stray 2\n", "b.txt");
    TextFile missingValue("n 1 t", "c.txt");
    TextFile missingBool("n 1 flag", "d.txt");
    auto reader = [](const char* path, bool check) {
        CmdFile cmd;
        int n;
        float t;
        bool flag;
        cmd.addIntParameter("n", &n, "count");
        cmd.addRealOption("t", &t, 0, "threshold");
        cmd.addBoolOption("flag", &flag, false, "flag");
        cmd.read(path, check);
    };
    EXPECT_FATAL(reader(withoutCount.c_str(), false), "CmdFile: parameter <n> not found");
    EXPECT_FATAL(reader(unknown.c_str(), true), "CmdFile: <stray> option or parameter incorrect");
    EXPECT_FATAL(reader(missingValue.c_str(), true), "CmdFile: cannot correctly set option <t>");
    EXPECT_FATAL(reader(missingBool.c_str(), true), "CmdFile: cannot correctly set option <flag>");
    EXPECT_FATAL(
        {
            TextFile f("n", "e.txt");
            CmdFile cmd;
            int n;
            cmd.addIntParameter("n", &n, "count");
            cmd.read(f.c_str(), true);
        },
        "CmdFile: cannot correctly argument <n>");
    EXPECT_FATAL(
        {
            CmdFile cmd;
            cmd.setValues();
        },
        "CmdFile: Parameters not loaded");
    EXPECT_FATAL(reader("/nonexistent/cmdfile.txt", true), "cannot open");
}
