#include <cstring>
#include <string>
#include <vector>

#include "fatal.h"
#include "visionlib/Allocator.h"
#include "visionlib/Object.h"
#include "visionlib/StringUtils.h"

using namespace vision;

namespace {

struct Options : Object {
    int count;
    real gain;
    bool flag;
    Object* peer;
    int again;
    Options() {
        addIntOption("count", &count, 7, "how many");
        addRealOption("gain", &gain, 0.5f, "how much");
        addBoolOption("flag", &flag, true, "whether");
        addObjectOption("peer", &peer, nullptr, "who");
        addIntOption("count", &again, 9, "declared twice");
    }
};

TEST(ObjectOptions, DefaultsAndSettersReachTheMembers) {
    Options o;
    EXPECT_EQ(o.count, 7);
    EXPECT_FLOAT_EQ(o.gain, 0.5f);
    EXPECT_TRUE(o.flag);
    EXPECT_EQ(o.peer, nullptr);
    ASSERT_EQ(o.n_options, 5);
    EXPECT_STREQ(o.options[1].name, "gain");
    EXPECT_STREQ(o.options[1].help, "how much");
    EXPECT_EQ(o.options[3].size, (int)sizeof(Object*));  // the real pointer width

    Object other;
    o.setIntOption("count", 3);
    o.setRealOption("gain", 2.25f);
    o.setBoolOption("flag", false);
    o.setObjectOption("peer", &other);
    EXPECT_EQ(o.count, 3);
    EXPECT_EQ(o.again, 9) << "the first entry of a name declared twice wins";
    EXPECT_FLOAT_EQ(o.gain, 2.25f);
    EXPECT_FALSE(o.flag);
    EXPECT_EQ(o.peer, &other);

    int n = 11;
    o.setOption("count", &n);
    EXPECT_EQ(o.count, 11);
}

TEST(ObjectOptions, UntypedOptionTakesItsSizeInBytes) {
    struct Raw : Object {
        short value = 0;
        Raw() { addOption("value", sizeof(short), &value, "raw"); }
    } raw;
    short v = 1234;
    raw.setOption("value", static_cast<const void*>(&v));
    EXPECT_EQ(raw.value, 1234);
}

struct FatalCase {
    const char* what;
    void (*run)();
    const char* text;
};

TEST(ObjectOptionsDeathTest, UnknownNamesAndTypeMismatchesAreFatal) {
    const FatalCase cases[] = {
        {"unknown", [] { Options().setIntOption("Count", 1); }, "Object: option doesn't exist: Count"},
        {"int into real", [] { Options().setIntOption("gain", 1); }, "Object: option gain has another type"},
        {"real into int", [] { Options().setRealOption("count", 1); }, "Object: option count has another type"},
        {"bool into object", [] { Options().setBoolOption("peer", true); },
         "Object: option peer has another type"},
        {"untyped into bool", [] { char c = 1; Options().setOption("flag", static_cast<const void*>(&c)); },
         "Object: option flag has another type"},
    };
    for (const FatalCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FATAL(c.run(), c.text);
    }
}

// Records the order in which objects are destroyed.
std::vector<int> destroyed;

struct Tracked : Object {
    int id;
    explicit Tracked(int id_) : id(id_) {}
    ~Tracked() override { destroyed.push_back(id); }
};

TEST(Allocator, ReleasesNewestFirstAndHonoursEachKind) {
    destroyed.clear();
    alignas(Tracked) unsigned char placed_memory[sizeof(Tracked)];
    {
        Object owner;
        new (owner.allocator) Tracked(1);
        void* plain = owner.allocator->alloc(16);
        ASSERT_NE(plain, nullptr);
        new (owner.allocator, placed_memory) Tracked(2);  // memory stays ours
        new (owner.allocator) Tracked(3);
        EXPECT_TRUE(destroyed.empty());
    }
    EXPECT_EQ(destroyed, (std::vector<int>{3, 2, 1}));
}

TEST(Allocator, EmptyRequestsAndEarlyRelease) {
    Allocator a;
    EXPECT_EQ(a.alloc(0), nullptr);
    EXPECT_EQ(a.head, nullptr);
    EXPECT_EQ(a.free(nullptr), nullptr);

    void* block = a.realloc(nullptr, 8);
    ASSERT_NE(a.owns(block), nullptr);
    block = a.realloc(block, 4096);
    ASSERT_NE(a.owns(block), nullptr);
    EXPECT_EQ(a.realloc(block, 0), nullptr);
    EXPECT_EQ(a.head, nullptr);

    destroyed.clear();
    Tracked* t = new (&a) Tracked(5);
    a.free(t);
    EXPECT_EQ(destroyed, std::vector<int>{5});
}

TEST(Allocator, AdoptMovesBlocksWithTheirKind) {
    destroyed.clear();
    Allocator* from = new Allocator;
    Allocator to;
    new (from) Tracked(1);
    Tracked* second = new (from) Tracked(2);
    void* plain = from->alloc(10);
    to.adopt(second, from);
    ASSERT_NE(to.owns(second), nullptr);
    EXPECT_EQ(to.owns(second)->kind, ALLOC_OBJECT);
    to.adoptAll(from);
    EXPECT_EQ(from->head, nullptr);
    EXPECT_NE(to.owns(plain), nullptr);
    delete from;
    EXPECT_TRUE(destroyed.empty());
    to.freeAll();
    EXPECT_EQ(destroyed.size(), 2u);
}

TEST(AllocatorDeathTest, MisuseIsFatal) {
    EXPECT_FATAL(Allocator().alloc(-1), "Allocator: not enough memory. Buy new ram.");
    EXPECT_FATAL({ int x; Allocator().free(&x); }, "Allocator: cannot release a pointer which is not mine.");
    EXPECT_FATAL({ int x; Allocator().realloc(&x, 8); }, "Allocator: cannot realloc a pointer which is not mine.");
    EXPECT_FATAL(
        {
            Allocator a;
            a.realloc(new (&a) Object, 64);
        },
        "Allocator: cannot realloc an object.");
}

TEST(StringUtils, CutBaseNameConcat) {
    struct {
        const char* text;
        char c;
        const char* cut;
    } cases[] = {{"a.b.c", '.', "a.b"}, {"abc", '.', "abc"}, {".abc", '.', ".abc"},
                 {"", '.', ""},         {"x/y.", '.', "x/y"}};
    for (auto& c : cases) {
        char* cut = cutAtLast(c.text, c.c);
        EXPECT_STREQ(cut, c.cut) << c.text;
        free(cut);
    }
    EXPECT_STREQ(pathBaseName("x/y/z.txt"), "z.txt");
    EXPECT_STREQ(pathBaseName("z.txt"), "z.txt");
    EXPECT_STREQ(pathBaseName("x\\y"), "x\\y");
    EXPECT_STREQ(pathBaseName("dir/"), "");
    char* joined = concatStrings(3, "models/", "user", ".face.model");
    EXPECT_STREQ(joined, "models/user.face.model");
    free(joined);
    char* none = concatStrings(0);
    EXPECT_STREQ(none, "");
    free(none);
}

}  // namespace
