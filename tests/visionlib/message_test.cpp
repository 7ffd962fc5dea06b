#include <string>
#include <thread>
#include <vector>

#include "fatal.h"
#include "visionlib/Message.h"

using namespace vision;

namespace {

struct Recorder : MessageHandler {
    std::vector<std::string> texts;
    explicit Recorder(bool silent) : MessageHandler(silent) {}
    void error(const char* t) override { texts.push_back(std::string("E:") + t); }
    void warning(const char* t) override { texts.push_back(std::string("W:") + t); }
    void message(const char* t) override { texts.push_back(std::string("M:") + t); }
    void print(const char* t) override { texts.push_back(std::string("P:") + t); }
};

TEST(Messages, StandardOutputFormats) {
    testing::internal::CaptureStdout();
    warning("low %d", 3);
    message("note %s", "x");
    print("raw %.1f|", 1.5);
    printProgress(-1, 3);
    for (int i = 0; i < 3; i++) printProgress(i, 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "! Warning: low 3\n# note x\nraw 1.5|[...]\n");
}

TEST(Messages, HandlerGetsEveryTextAndSilentOneSuppressesCopies) {
    {
        Recorder loud(false);
        testing::internal::CaptureStdout();
        warning("w");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "! Warning: w\n");
        Recorder second(true);  // not registered: the first stays
        testing::internal::CaptureStdout();
        message("m");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "# m\n");
        EXPECT_EQ(loud.texts, (std::vector<std::string>{"W:w", "M:m"}));
        EXPECT_TRUE(second.texts.empty());
    }
    Recorder silent(true);
    testing::internal::CaptureStdout();
    warning("a");
    message("b");
    print("c");
    std::string err;
    EXPECT_FALSE(runRecoverable([] { error("d %d", 4); }, &err));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(silent.texts, (std::vector<std::string>{"W:a", "M:b", "P:c", "E:d 4"}));
}

TEST(Messages, LongArgumentIsCutNotOverflowed) {
    Recorder r(true);
    std::string huge(50000, 'x');
    message("%s", huge.c_str());
    ASSERT_EQ(r.texts.size(), 1u);
    EXPECT_EQ(r.texts[0].size(), 2u + 9999u);  // "M:" + what fits the buffer
}

TEST(Messages, ProgressDotsEveryTenth) {
    Recorder r(true);
    for (int i = 0; i < 20; i++) printProgress(i, 20);
    std::string all;
    for (auto& t : r.texts) all += t.substr(2);
    EXPECT_EQ(all, "..........]\n");
}

TEST(RecoverableScope, ErrorUnwindsToTheScopeAndStillPrints) {
    std::string text;
    bool after = false;
    testing::internal::CaptureStdout();
    bool ok = runRecoverable(
        [&] {
            error("model <%s> is damaged", "a b");
            after = true;
        },
        &text);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n$ Error: model <a b> is damaged\n\n");
    EXPECT_FALSE(ok);
    EXPECT_FALSE(after);
    EXPECT_EQ(text, "model <a b> is damaged");
    EXPECT_TRUE(runRecoverable([] {}, &text));
}

TEST(RecoverableScope, NestedScopesAndOtherThreads) {
    std::string outer_text, inner_text;
    bool inner_ok = true;
    bool outer_ok = runRecoverable(
        [&] {
            inner_ok = runRecoverable([] { error("inner"); }, &inner_text);
            error("outer");
        },
        &outer_text);
    EXPECT_FALSE(inner_ok);
    EXPECT_FALSE(outer_ok);
    EXPECT_EQ(inner_text, "inner");
    EXPECT_EQ(outer_text, "outer");

    // Each thread has its own scope and its own text.
    std::vector<std::string> texts(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; i++)
        threads.emplace_back([&texts, i] { runRecoverable([i] { error("thread %d", i); }, &texts[i]); });
    for (auto& t : threads) t.join();
    for (int i = 0; i < 4; i++) EXPECT_EQ(texts[i], "thread " + std::to_string(i));
}

TEST(RecoverableScopeDeathTest, OutsideAnyScopeErrorEndsTheProcess) {
    EXPECT_FATAL(error("bad %s", "input"), "bad input");
    // A finished scope leaves nothing behind.
    EXPECT_FATAL(
        {
            runRecoverable([] { error("first"); });
            error("second");
        },
        "second");
}

}  // namespace
