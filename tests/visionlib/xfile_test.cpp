#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "fatal.h"
#include "visionlib/ByteOrder.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/MemoryXFile.h"
#include "visionlib/Message.h"
#include "read_file.h"

using testutil::readFile;

using namespace vision;

namespace {

// A fresh folder per test, removed afterwards.
class TempDir : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        char tmpl[] = "/tmp/visionlib_xfile_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }
    static std::vector<unsigned char> bytes(const std::string& p) {
        const std::string b = readFile(p);
        return std::vector<unsigned char>(b.begin(), b.end());
    }
    static void writeBytes(const std::string& p, const std::vector<unsigned char>& b) {
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(b.data()), (std::streamsize)b.size());
    }
};

std::vector<unsigned char> memoryBytes(MemoryXFile& f) {
    std::vector<unsigned char> out((size_t)f.size);
    f.rewind();
    f.read(out.data(), 1, f.size);
    return out;
}

TEST(TaggedRecord, LayoutAndRoundTrip) {
    MemoryXFile f;
    const real values[3] = {1.0f, -2.5f, 3.25f};
    f.taggedWrite(values, 4, 3, "FRAME");
    std::vector<unsigned char> b = memoryBytes(f);
    ASSERT_EQ(b.size(), 4u + 5u + 4u + 4u + 12u);
    const unsigned char header[] = {5, 0, 0, 0, 'F', 'R', 'A', 'M', 'E', 4, 0, 0, 0, 3, 0, 0, 0};
    EXPECT_EQ(0, memcmp(b.data(), header, sizeof header));
    EXPECT_EQ(0, memcmp(b.data() + 17, values, 12));

    real back[3] = {0, 0, 0};
    f.rewind();
    f.taggedRead(back, 4, 3, "FRAME");
    EXPECT_EQ(0, memcmp(back, values, sizeof back));
}

TEST_F(TempDir, BigEndianFilesReverseEveryElementAndLeaveTheCallerBuffer) {
    useBigEndianFiles();
    int32_t one = 1;
    {
        DiskXFile f(path("be.bin").c_str(), "w");
        f.write(&one, 4, 1);
        f.taggedWrite(&one, 4, 1, "N");
    }
    EXPECT_EQ(one, 1);
    std::vector<unsigned char> b = bytes(path("be.bin"));
    const std::vector<unsigned char> expect = {0, 0, 0, 1, 0, 0, 0, 1, 'N', 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 1};
    EXPECT_EQ(b, expect);
    int32_t first = 0, second = 0;
    {
        DiskXFile f(path("be.bin").c_str(), "r");
        f.read(&first, 4, 1);
        f.taggedRead(&second, 4, 1, "N");
    }
    useNativeByteOrder();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}

TEST_F(TempDir, TaggedReaderRefusesEveryMismatchAndTruncation) {
    const real data[4] = {1, 2, 3, 4};
    {
        DiskXFile f(path("good.bin").c_str(), "w");
        f.taggedWrite(data, 4, 4, "FRAME");
    }
    std::vector<unsigned char> good = bytes(path("good.bin"));
    writeBytes(path("cut_data.bin"), std::vector<unsigned char>(good.begin(), good.end() - 1));
    writeBytes(path("cut_header.bin"), std::vector<unsigned char>(good.begin(), good.begin() + 10));
    writeBytes(path("cut_length.bin"), std::vector<unsigned char>(good.begin(), good.begin() + 2));

    struct Case {
        const char* file;
        const char* tag;
        int element_size;
        int count;
        const char* text;
    } cases[] = {
        {"good.bin", "FRAMX", 4, 4, "XFile: tag <FRAMX> not found!"},
        {"good.bin", "PARAMS", 4, 4, "XFile: sorry, the tag <PARAMS> cannot be read!"},
        {"good.bin", "FRAME", 4, 5, "XFile: tag <FRAME> has a corrupted size!"},
        {"good.bin", "FRAME", 8, 2, "XFile: tag <FRAME> has a corrupted size!"},
        {"cut_data.bin", "FRAME", 4, 4, "XFile: tag <FRAME> has a corrupted size!"},
        {"cut_header.bin", "FRAME", 4, 4, "XFile: sorry, the tag <FRAME> cannot be read!"},
        {"cut_length.bin", "FRAME", 4, 4, "XFile: sorry, the tag <FRAME> cannot be read!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.tag);
        std::string p = path(c.file);
        EXPECT_FATAL(
            {
                real buffer[8];
                DiskXFile f(p.c_str(), "r");
                f.taggedRead(buffer, c.element_size, c.count, c.tag);
            },
            c.text);
    }
    // The same check through a recoverable scope: a truncated model is refused, not half-loaded.
    std::string text;
    EXPECT_FALSE(runRecoverable(
        [&] {
            real buffer[4];
            DiskXFile f(path("cut_data.bin").c_str(), "r");
            f.taggedRead(buffer, 4, 4, "FRAME");
        },
        &text));
    EXPECT_EQ(text, "XFile: tag <FRAME> has a corrupted size!");
}

TEST_F(TempDir, OpeningFailuresFatalForTheLibraryNullForPrograms) {
    std::string missing = path("missing.bin");
    EXPECT_EQ(DiskXFile::tryOpen(missing.c_str(), "r"), nullptr);
    EXPECT_EQ(DiskXFile::tryOpen(path("missing.gz").c_str(), "r"), nullptr);
    EXPECT_FATAL(DiskXFile f(missing.c_str(), "r"), "DiskXFile: cannot open <" + missing + "> in mode <r>. Sorry.");
    std::string gz = path("missing.gz");
    EXPECT_FATAL(DiskXFile f(gz.c_str(), "r"), "DiskXFile: cannot open the file <" + gz + "> for reading");

    Object owner;
    DiskXFile* f = DiskXFile::tryOpen(path("made.txt").c_str(), "w", owner.allocator);
    ASSERT_NE(f, nullptr);
    EXPECT_NE(owner.allocator->owns(f), nullptr);
    f->printf("%d\n", 42);
}

TEST_F(TempDir, OnlyRegularFilesAreRead) {
    // Opening a FIFO without a writer used to wait for ever; a folder opened and read nothing.
    const std::string fifo = path("fifo"), folder = path("folder"), plain = path("plain.txt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    writeBytes(plain, {'4', '2'});
    for (const std::string& p : {fifo, folder}) {
        SCOPED_TRACE(p);
        bool irregular = false;
        EXPECT_EQ(openRegularFile(p.c_str(), "rb", &irregular), nullptr);
        EXPECT_TRUE(irregular);
        EXPECT_EQ(DiskXFile::tryOpen(p.c_str(), "r"), nullptr);
        EXPECT_FATAL(DiskXFile f(p.c_str(), "r"), "DiskXFile: <" + p + "> is not a regular file, it is not read");
    }
    // Nor written: without a reader the open used to wait for one, and with one the bytes went to it.
    for (bool withReader : {false, true}) {
        SCOPED_TRACE(withReader ? "a FIFO with a reader" : "a FIFO without a reader");
        const int reader = withReader ? ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        bool irregular = false;
        EXPECT_EQ(openRegularFile(fifo.c_str(), "wb", &irregular), nullptr);
        EXPECT_TRUE(irregular);
        EXPECT_FATAL(DiskXFile f(fifo.c_str(), "w"), "DiskXFile: <" + fifo + "> is not a regular file, it is not written");
        if (reader >= 0) ::close(reader);
    }
    bool irregular = true;
    EXPECT_EQ(openRegularFile(path("missing").c_str(), "r", &irregular), nullptr);
    EXPECT_FALSE(irregular) << "a missing file is not a special one";
    // A regular file reads as before, blocking reads and all.
    DiskXFile f(plain.c_str(), "r");
    int value = 0;
    EXPECT_EQ(f.scanf("%d", &value), 1);
    EXPECT_EQ(value, 42);
}

TEST_F(TempDir, GzipFilesAreReadThroughZlibAndNoProgramOnThePath) {
    // More than one stdio buffer and one zlib window, so the stream refills.
    std::string text = "0.5 1.5\nsecond line\n";
    for (int i = 0; i < 20000; ++i) text += std::to_string(i * 7919 % 100003) + (i % 9 ? " " : "\n");
    std::string plain = path("plain.txt");
    std::ofstream(plain, std::ios::binary) << text;
    ASSERT_EQ(std::system(("gzip -n '" + plain + "'").c_str()), 0);
    std::string tricky = path("a b'c $(touch pwned).gz");
    ASSERT_EQ(rename((plain + ".gz").c_str(), tricky.c_str()), 0);
    // A "zcat" first on the search path would leave its mark.
    ASSERT_EQ(mkdir(path("bin").c_str(), 0700), 0);
    std::ofstream(path("bin/zcat")) << "#!/bin/sh\ntouch '" << path("ran") << "'\n";
    ASSERT_EQ(chmod(path("bin/zcat").c_str(), 0700), 0);
    const std::string savedPath = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", path("bin").c_str(), 1);

    {
        DiskXFile f(tricky.c_str(), "r");
        EXPECT_TRUE(f.is_pipe);
        float a = 0, b = 0;
        EXPECT_EQ(f.scanf("%g", &a), 1);
        EXPECT_EQ(f.scanf("%g", &b), 1);
        char line[64];
        ASSERT_NE(f.gets(line, sizeof line), nullptr);  // rest of the first line
        ASSERT_NE(f.gets(line, sizeof line), nullptr);
        EXPECT_STREQ(line, "second line\n");
        EXPECT_FLOAT_EQ(a, 0.5f);
        EXPECT_FLOAT_EQ(b, 1.5f);
        // The same bytes as the file that was compressed, to the end.
        f.rewind();
        std::string back(text.size() + 10, '\0');
        EXPECT_EQ(f.read(&back[0], 1, static_cast<int>(back.size())), static_cast<int>(text.size()));
        back.resize(text.size());
        EXPECT_TRUE(back == text);
        EXPECT_NE(f.eof(), 0);
    }
    // What is not gzip data reads as nothing, as zcat gave nothing for it.
    std::ofstream(path("plain.gz"), std::ios::binary) << "not compressed";
    {
        DiskXFile f(path("plain.gz").c_str(), "r");
        char c;
        EXPECT_EQ(f.read(&c, 1, 1), 0);
    }
    setenv("PATH", savedPath.c_str(), 1);
    struct stat st;
    EXPECT_NE(stat(path("ran").c_str(), &st), 0) << "a program on the search path was run";
    EXPECT_NE(stat(path("pwned").c_str(), &st), 0) << "the path reached a shell";

    // Only mode "r" decompresses: "rb" reads the compressed bytes themselves.
    DiskXFile raw(tricky.c_str(), "rb");
    EXPECT_FALSE(raw.is_pipe);
    unsigned char magic[2] = {0, 0};
    EXPECT_EQ(raw.read(magic, 1, 2), 2);
    EXPECT_EQ(magic[0], 0x1f);
    EXPECT_EQ(magic[1], 0x8b);
}

TEST(MemoryXFile, BuffersGrowByTheBufferSizeWithoutMovingData) {
    std::vector<char> big(70000, 'a');
    MemoryXFile one;
    EXPECT_EQ(one.write(big.data(), 1, 70000), 70000);
    ASSERT_EQ(one.memory->n_nodes, 1);
    EXPECT_EQ(one.memory->nodes[0]->size, 70000);

    MemoryXFile two;
    two.write(big.data(), 1, 40000);
    two.write(big.data(), 1, 40000);
    ASSERT_EQ(two.memory->n_nodes, 2);
    EXPECT_EQ(two.memory->nodes[0]->size, 65536);
    EXPECT_EQ(two.memory->nodes[1]->size, 65536);
    EXPECT_EQ(two.size, 80000);
    EXPECT_EQ(two.buffer_size, 131072);

    // Reading back across the buffer boundary.
    std::vector<int32_t> ints(30000);
    for (int i = 0; i < 30000; i++) ints[i] = i * 7;
    MemoryXFile f;
    f.setIntOption("buffer size", 1000);
    for (int i = 0; i < 30000; i += 1000) f.write(&ints[i], 4, 1000);
    EXPECT_EQ(f.size, 120000);
    std::vector<int32_t> back(30000);
    f.rewind();
    EXPECT_EQ(f.read(back.data(), 4, 30000), 30000);
    EXPECT_EQ(back, ints);
    EXPECT_EQ(f.read(back.data(), 4, 1), 0);
    EXPECT_TRUE(f.eof());
}

TEST(MemoryXFile, SeekTellAndOverwrite) {
    MemoryXFile f;
    f.write("abcdef", 1, 6);
    EXPECT_EQ(f.seek(2, 0), 0);
    f.write("XY", 1, 2);
    EXPECT_EQ(f.tell(), 4);
    EXPECT_EQ(f.size, 6);
    EXPECT_EQ(f.seek(1, 2), 0);
    EXPECT_EQ(f.tell(), 5);
    EXPECT_EQ(f.seek(-1, 1), 0);
    EXPECT_EQ(f.tell(), 4);
    EXPECT_EQ(f.seek(7, 0), -1);
    EXPECT_EQ(f.seek(-1, 0), -1);
    EXPECT_EQ(f.tell(), 4);
    EXPECT_EQ(f.seek(3, 9), 0);
    EXPECT_EQ(f.tell(), 0);
    char out[7] = {};
    EXPECT_EQ(f.read(out, 1, 10), 6);  // short: what there was, and the end flag
    EXPECT_TRUE(f.eof());
    EXPECT_STREQ(out, "abXYef");
}

TEST(MemoryXFile, PrintfScanfRoundTrip) {
    MemoryXFile f;
    for (int i = 0; i < 5000; i++) f.printf("%g\n", i * 0.25);
    f.rewind();
    float v = -1;
    int read = 0;
    while (f.scanf("%g", &v) == 1) {
        EXPECT_FLOAT_EQ(v, read * 0.25f);
        read++;
    }
    EXPECT_EQ(read, 5000);
    EXPECT_TRUE(f.eof());

    MemoryXFile g;
    g.printf("0.5\n0.75\n");
    g.rewind();
    EXPECT_EQ(g.scanf("%g", &v), 1);
    EXPECT_FLOAT_EQ(v, 0.5f);
    EXPECT_EQ(g.tell(), 3) << "stops before the line feed";
    EXPECT_EQ(g.scanf("%g", &v), 1);
    EXPECT_FLOAT_EQ(v, 0.75f);
}

TEST(MemoryXFile, UnmatchedScanActsAsEndOfInput) {
    MemoryXFile f;
    f.printf("12 word 13\n");
    f.rewind();
    int n = 0;
    EXPECT_EQ(f.scanf("%d", &n), 1);
    EXPECT_EQ(n, 12);
    EXPECT_EQ(f.scanf("%d", &n), 0);
    EXPECT_EQ(f.tell(), f.size);
    EXPECT_TRUE(f.eof());
    EXPECT_EQ(f.scanf("%d", &n), 0);

    // A format longer than the format buffer still works.
    MemoryXFile small(4);
    small.printf("value=8");
    small.rewind();
    EXPECT_EQ(small.scanf("value=%d", &n), 1);
    EXPECT_EQ(n, 8);
}

TEST(MemoryXFile, PrintfLongerThanItsBufferKeepsEverything) {
    MemoryXFile f;
    std::string text(25000, 'z');
    EXPECT_EQ(f.printf("<%s>", text.c_str()), 25002);
    EXPECT_EQ(f.size, 25002);
    std::vector<unsigned char> b = memoryBytes(f);
    EXPECT_EQ(b.front(), '<');
    EXPECT_EQ(b.back(), '>');
}

TEST(MemoryXFile, GetsLines) {
    MemoryXFile f;
    f.printf("first\nsecond line\nlast");
    f.rewind();
    char buf[8];
    ASSERT_NE(f.gets(buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "first\n");
    EXPECT_FALSE(f.eof());
    ASSERT_NE(f.gets(buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "second ");  // cut at size - 1
    ASSERT_NE(f.gets(buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "line\n");
    ASSERT_NE(f.gets(buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "last");
    EXPECT_TRUE(f.eof());
    EXPECT_EQ(f.gets(buf, sizeof buf), nullptr);
}

TEST(MemoryXFile, ReadsCallerBuffers) {
    char text[] = "3 4";
    MemoryXFile f(text, 3);
    int a = 0, b = 0;
    EXPECT_EQ(f.scanf("%d", &a), 1);
    EXPECT_EQ(f.scanf("%d", &b), 1);
    EXPECT_EQ(a + b, 7);
    EXPECT_STREQ(text, "3 4");
}

}  // namespace
