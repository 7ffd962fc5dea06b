#include <sstream>
#include <thread>

#include "tests/common/app_fixtures.h"
#include "read_file.h"

using testutil::readFile;

TEST(FileLogger, NestedActionsIndentByFourSpacesAndFallBack) {
    TempDir dir;
    const std::string path = dir.path + "/Tarvelo.log";
    {
        FileLogger logger(path, false);
        logger.log("first");
        {
            LogIndent a(&logger);
            logger.log("second");
            {
                LogIndent b(&logger);
                logger.stream << "third " << 42 << " " << 0.5f << " " << true << " " << 1.0f / 3.0f;
                logger.flush();
            }
        }
        logger.log("after");
        logger.flush();  // an empty buffer gives an (indented) empty line
        logger.log("two\nlines");
    }
    EXPECT_EQ("first\n    second\n        third 42 0.5 1 0.333333\nafter\n\ntwo\nlines\n", readFile(path));
}

TEST(FileLogger, AppendsOrTruncatesAndStaysMuteWithoutAFile) {
    TempDir dir;
    const std::string path = dir.path + "/Tarvelo.log";
    writeFile(path, "old\n");
    { FileLogger(path, false).log("appended"); }
    EXPECT_EQ("old\nappended\n", readFile(path));
    { FileLogger(path, true).log("fresh"); }
    EXPECT_EQ("fresh\n", readFile(path));

    FileLogger mute(dir.path + "/missing/folder/x.log", false);
    EXPECT_FALSE(mute.isOpen());
    mute.log("nothing");
    mute.stream << "still nothing";
    mute.flush();
    LogIndent indent(&mute);
    EXPECT_EQ(1u, mute.indent.load());
}

TEST(LogIndent, NeverGoesBelowZeroAndDoesNothingWithoutALogger) {
    RecordingLogger logger;
    {
        LogIndent indent(&logger);
        logger.indent = 0;  // someone else lowered it meanwhile
    }
    EXPECT_EQ(0u, logger.indent.load());
    logger.lowerIndent();
    EXPECT_EQ(0u, logger.indent.load());
    { LogIndent none(nullptr); }
}

TEST(FileLogger, LinesOfTwoThreadsStayWhole) {
    TempDir dir;
    const std::string path = dir.path + "/Tarvelo.log";
    {
        FileLogger logger(path, false);
        auto writer = [&logger](const std::string& word) {
            for (int i = 0; i < 2000; ++i) {
                logger.stream << word << " " << i << " " << word;
                logger.flush();
            }
        };
        std::thread a(writer, std::string("alpha"));
        std::thread b(writer, std::string("beta"));
        a.join();
        b.join();
    }
    std::istringstream lines(readFile(path));
    std::string line;
    int alpha = 0, beta = 0;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string first, last;
        int n = -1;
        words >> first >> n >> last;
        ASSERT_EQ(first, last) << line;
        ASSERT_GE(n, 0) << line;
        (first == "alpha" ? alpha : beta)++;
    }
    EXPECT_EQ(2000, alpha);
    EXPECT_EQ(2000, beta);
}
