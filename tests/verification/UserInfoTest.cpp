#include <cstring>
#include <string>
#include <vector>

#include "VerifTestUtil.h"
#include "verification/PrivateFile.h"
#include "verification/UserInfo.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/MemoryXFile.h"

using namespace vision;
using namespace verif_test;

namespace {

std::string saved(UserInfo& info) {
    MemoryXFile file;
    info.saveXFile(&file);
    file.rewind();
    std::string text;
    char line[256];
    while (file.gets(line, sizeof line))
        text += line;
    return text;
}

UserInfo* parse(const std::string& text) {
    MemoryXFile file;
    file.write(text.data(), 1, (int)text.size());
    file.rewind();
    return UserInfo::readFrom(&file);
}

}  // namespace

TEST(UserInfo, RoundTripThroughAPrivateFile) {
    TempDir dir;
    UserInfo info(5000, "jdoe", "John", "Smithson", 1970, 'M');
    EXPECT_EQ(info.maxStringSize, 8);
    std::string path = dir / "jdoe.userinfo.txt";
    writePrivateFile(path.c_str(), [&](XFile* f) { info.saveXFile(f); });

    EXPECT_EQ(readFile(path),
              "USERID 5000\nMAXSTRINGSIZE 8\nUSERNAME jdoe\nFIRSTNAME John\nLASTNAME Smithson\n"
              "BYEAR 1970\nGENDER M\n");
    EXPECT_EQ(fileMode(path), 0600);
    EXPECT_EQ(std::system(("test \"$(ls '" + dir.path + "')\" = jdoe.userinfo.txt").c_str()), 0)
        << "a temporary file was left behind";

    UserInfo loaded;
    {
        DiskXFile file(path.c_str(), "r");
        loaded.loadXFile(&file);
    }
    EXPECT_EQ(loaded.userId, 5000);
    EXPECT_EQ(loaded.maxStringSize, 8);
    EXPECT_STREQ(loaded.userName, "jdoe");
    EXPECT_STREQ(loaded.firstName, "John");
    EXPECT_STREQ(loaded.lastName, "Smithson");
    EXPECT_EQ(loaded.birthYear, 1970);
    EXPECT_EQ(loaded.gender, 'M');
}

TEST(UserInfo, ReplacingARecordKeepsItPrivate) {
    TempDir dir;
    std::string path = dir / "u.userinfo.txt";
    writeFile(path, "old");
    chmod(path.c_str(), 0644);
    UserInfo info(5001, "u", "None", "None", 2000, 'M');
    writePrivateFile(path.c_str(), [&](XFile* f) { info.saveXFile(f); });
    EXPECT_EQ(fileMode(path), 0600);
    EXPECT_EQ(readFile(path).substr(0, 12), "USERID 5001\n");
}

TEST(UserInfo, EmptyNamesAndUnknownGenderSurviveARoundTrip) {
    UserInfo info(7, "", "Ann", "", 0, ' ');
    std::string text = saved(info);
    EXPECT_EQ(text, "USERID 7\nMAXSTRINGSIZE 3\nUSERNAME \nFIRSTNAME Ann\nLASTNAME \nBYEAR 0\nGENDER  \n");
    UserInfo* back = parse(text);
    ASSERT_NE(back, nullptr);
    EXPECT_STREQ(back->userName, "");
    EXPECT_STREQ(back->firstName, "Ann");
    EXPECT_STREQ(back->lastName, "");
    EXPECT_EQ(back->gender, ' ');
    EXPECT_EQ(back->userId, 7);
    delete back;
}

TEST(UserInfo, CarriageReturnsBeforeALineEndAreNotPartOfTheValue) {
    // A name keeping one "\r" would lose it on the next save and re-read: the user's folder name
    // would change between runs.
    for (const char* ending : {"\r\n", "\r\r\n", "\r\r\r\n"}) {
        const std::string e = ending;
        UserInfo* info = parse("USERID 9" + e + "MAXSTRINGSIZE 4" + e + "USERNAME jdoe" + e + "FIRSTNAME A" + e +
                               "LASTNAME B" + e + "BYEAR 0" + e + "GENDER M" + e);
        ASSERT_NE(info, nullptr) << "ending of " << e.size() << " characters";
        EXPECT_STREQ(info->userName, "jdoe");
        EXPECT_STREQ(info->lastName, "B");
        UserInfo* again = parse(saved(*info));
        ASSERT_NE(again, nullptr);
        EXPECT_STREQ(again->userName, info->userName);
        delete again;
        delete info;
    }
}

TEST(UserInfo, PrintsUnknownBirthYearAndGender) {
    CapturedMessages captured;
    UserInfo known(5000, "jdoe", "John", "Smith", 1970, 'F');
    known.print();
    EXPECT_EQ(captured.printed,
              "UserInfo (jdoe) [5000]:\n   firstname = John\n   lastname = Smith\n   byear = 1970\n"
              "   gender = F\n");
    captured.printed.clear();
    UserInfo unknown(1, "x", "y", "z", 0, ' ');
    unknown.print();
    EXPECT_EQ(captured.printed,
              "UserInfo (x) [1]:\n   firstname = y\n   lastname = z\n   birth year unknown\n   gender unknown\n");
}

TEST(UserInfo, UnreadableRecordsAreRefused) {
    const std::string good = "USERID 5000\nMAXSTRINGSIZE 4\nUSERNAME jdoe\nFIRSTNAME John\nLASTNAME Doe\n"
                             "BYEAR 1970\nGENDER M\n";
    UserInfo* readable = parse(good);
    ASSERT_NE(readable, nullptr);
    delete readable;
    struct Case {
        const char* what;
        std::string text;
    };
    std::vector<Case> cases = {
        {"name longer than MAXSTRINGSIZE", "USERID 1\nMAXSTRINGSIZE 2\nUSERNAME jdoe\nFIRSTNAME a\nLASTNAME b\n"
                                           "BYEAR 0\nGENDER M\n"},
        {"negative MAXSTRINGSIZE", "USERID 1\nMAXSTRINGSIZE -1\nUSERNAME \nFIRSTNAME \nLASTNAME \nBYEAR 0\n"
                                   "GENDER M\n"},
        {"huge MAXSTRINGSIZE", "USERID 1\nMAXSTRINGSIZE 2147483647\nUSERNAME a\nFIRSTNAME \nLASTNAME \n"
                               "BYEAR 0\nGENDER M\n"},
        {"record cut after the user name", "USERID 1\nMAXSTRINGSIZE 4\nUSERNAME jdoe\n"},
        {"id not a number", "USERID x\nMAXSTRINGSIZE 4\nUSERNAME jdoe\nFIRSTNAME a\nLASTNAME b\nBYEAR 0\n"
                            "GENDER M\n"},
        {"line longer than any record line", "USERID 1\nMAXSTRINGSIZE 9000\nUSERNAME " + std::string(8000, 'a') +
                                                 "\nFIRSTNAME a\nLASTNAME b\nBYEAR 0\nGENDER M\n"},
        {"empty file", ""},
    };
    for (const Case& c : cases) {
        UserInfo* info = parse(c.text);
        EXPECT_EQ(info, nullptr) << c.what;
        delete info;
    }
}

TEST(UserInfoDeathTest, FatalFaults) {
    EXPECT_FATAL(UserInfo(1, "a", nullptr, "c", 0, ' '), "UserInfo::UserInfo\\(\\) : an argument is NULL\\.");
    EXPECT_FATAL(
        {
            MemoryXFile file;
            file.printf("USERID 1\nMAXSTRINGSIZE 1\nUSERNAME toolong\n");
            file.rewind();
            UserInfo info;
            info.loadXFile(&file);
        },
        "cannot be read");
}

TEST(UserInfo, OneFolderNameForEveryPath) {
    UserInfo small(42, "jdoe", "a", "b", 0, ' ');
    EXPECT_EQ(small.folderName(), "jdoe_0042");
    EXPECT_EQ(userFolderPath("users", &small), "users/jdoe_0042");
    EXPECT_EQ(userFolderPath("users/", &small), "users/jdoe_0042");
    UserInfo usual(5000, "John_Smith", "None", "None", 2000, 'M');
    EXPECT_EQ(userFolderPath("/home/x/.Tarvelo", &usual), "/home/x/.Tarvelo/John_Smith_5000");
}
