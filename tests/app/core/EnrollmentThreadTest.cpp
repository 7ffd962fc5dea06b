// The enrollment thread: first enrollment, updates of a full store, adaptation from a near miss,
// folders it creates and removes, failures that keep the old model, and the completion event.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/app.h>

#include "app/core/EnrollmentThread.h"
#include "app/core/ModelCheck.h"
#include "tests/app/core/app_core_fixtures.h"
#include "verification/FaceData.h"
#include "verification/FaceVerif.h"
#include "verification/UserInfo.h"
#include "visionlib/DiskXFile.h"

namespace {

const int W = 160, H = 120;

// Names its samples s00, s01, ... so that a test can run many within one second.
class CountingEnrollment : public EnrollmentThread {
public:
    CountingEnrollment(SessionGuardCore& core, const std::string& prefix, bool adapt, int first)
        : EnrollmentThread(core, prefix, adapt), n(first) {}
    std::string sampleName() const override {
        char name[16];
        std::snprintf(name, sizeof name, "s%02d", n);
        return name;
    }
    int n;
};

class Enrollment : public AppCoreTest {
protected:
    std::string user, models, listPath, modelPath;
    void SetUp() override {
        AppCoreTest::SetUp();
        writeMixture(root + "/world.model");
        core.config.worldModel = root + "/world.model";
        ASSERT_TRUE(core.createUserInfo("None", "None", 2000, true));
        user = core.userFolderPath();
        models = user + "/models";
        vision::UserInfo* record = core.loadUserInfo("");
        listPath = models + "/" + record->userName + ".facedata.txt";
        delete record;
        modelPath = core.userModelPath();
    }

    // A textured frame with its capture description, as the detection listener writes them.
    static void writeCapture(const std::string& prefix, int seed, bool crop = false) {
        std::string pgm = "P5\n" + std::to_string(W) + " " + std::to_string(H) + "\n255\n";
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                pgm += char(int(127.5 + 60 * std::sin(x / (5.0 + seed)) * std::cos(y / 7.0) +
                                40 * std::sin((x + y + seed) / 3.0)));
        writeText(prefix + ".raw.pgm", pgm);
        writeText(prefix + ".info.txt",
                  "BBX_X 40\nBBX_Y 20\nBBX_W 80\nBBX_H 100\nEYE_CENTER_L_X 60\nEYE_CENTER_L_Y 50\n"
                  "EYE_CENTER_R_X 93\nEYE_CENTER_R_Y 50\nSCORE 0.8\nVIEW 0\nINPLANE F\nOUTPLANE F\n");
        if (crop) writeText(prefix + ".crop.pgm", "P5\n1 1\n255\n\x80");
    }

    std::vector<std::string> listedNames() {
        vision::UserInfo* record = core.loadUserInfo("");
        vision::FrontalFaceData store(record, W, H, 10, core.userDataDir().c_str(), false, false, 0, true);
        vision::DiskXFile file(listPath.c_str(), "r");
        std::vector<std::string> names;
        if (store.loadList(&file))
            for (int i = 0; i < store.getNumberOfFaces(); ++i) names.push_back(store.getName(i));
        delete record;
        return names;
    }

    bool run(const std::string& prefix, bool adapt, int n) {
        CountingEnrollment e(core, prefix, adapt, n);
        return e.buildModel();
    }
};

TEST_F(Enrollment, FirstEnrollmentStartsANewStoreAndUsesUpTheCapture) {
    writeCapture("lastface", 1);
    ASSERT_TRUE(run("lastface", false, 0));
    EXPECT_EQ(listedNames(), std::vector<std::string>{"s00"});
    EXPECT_EQ(modeOf(modelPath), 0600u);
    EXPECT_EQ(modeOf(listPath), 0600u);
    EXPECT_EQ(modeOf(user), 0700u);
    EXPECT_EQ(modeOf(user + "/data"), 0700u);
    EXPECT_TRUE(exists(user + "/data/s00.cro"));
    EXPECT_FALSE(exists("lastface.raw.pgm"));
    EXPECT_FALSE(exists("lastface.info.txt"));
    // The model loads on the world model it was adapted from.
    vision::FaceVerif_GmmDCTmod2 world(core.config.worldModel.c_str(), 0);
    vision::FaceVerif_MapGmmDCTmod2 model(modelPath.c_str(), &world, 0);

    writeCapture("lastface", 2);
    ASSERT_TRUE(run("lastface", false, 1));
    EXPECT_EQ(listedNames(), std::vector<std::string>{"s01"}) << "enrolling again replaces the list";
    EXPECT_TRUE(exists(user + "/data/s00.cro")) << "the old crops stay in the data folder";

    writeCapture("lastface", 3);
    ASSERT_TRUE(run("lastface", true, 2));
    EXPECT_EQ(listedNames(), (std::vector<std::string>{"s01", "s02"})) << "an update adds to the store";
}

TEST_F(Enrollment, AFullStoreLosesItsOldestSample) {
    for (int i = 0; i < 11; ++i) {
        writeCapture("lastface", i);
        ASSERT_TRUE(run("lastface", i > 0, i)) << i;
    }
    std::vector<std::string> names = listedNames();
    ASSERT_EQ(names.size(), 10u);
    EXPECT_EQ(names.front(), "s01");
    EXPECT_EQ(names.back(), "s10");
}

TEST_F(Enrollment, AdaptWithoutAListIsAFirstEnrollment) {
    writeCapture("lastface", 4);
    ASSERT_TRUE(run("lastface", true, 7));
    EXPECT_EQ(listedNames(), std::vector<std::string>{"s07"});
}

TEST_F(Enrollment, NearMissAdaptationRemovesTheImagesFolderWhenEmpty) {
    ::mkdir(user.c_str(), 0700);
    writeText(user + "/notes.txt", "kept");
    ASSERT_EQ(::mkdir((user + "/images").c_str(), 0700), 0);
    std::string prefix = user + "/images/lastface";
    writeCapture(prefix, 5, true);
    ASSERT_TRUE(run(prefix, true, 0));
    EXPECT_FALSE(exists(prefix + ".raw.pgm"));
    EXPECT_FALSE(exists(prefix + ".crop.pgm"));
    EXPECT_FALSE(exists(prefix + ".info.txt"));
    EXPECT_FALSE(exists(user + "/images"));
    EXPECT_EQ(readFile(user + "/notes.txt"), "kept") << "an existing user folder keeps its contents";

    ASSERT_EQ(::mkdir((user + "/images").c_str(), 0700), 0);
    writeText(user + "/images/other.pgm", "x");
    writeCapture(prefix, 6, true);
    ASSERT_TRUE(run(prefix, true, 1));
    EXPECT_TRUE(exists(user + "/images/other.pgm")) << "a folder with other files stays";
}

TEST_F(Enrollment, FailuresKeepTheOldModelAndList) {
    writeCapture("lastface", 1);
    ASSERT_TRUE(run("lastface", false, 0));
    std::string model = readFile(modelPath), list = readFile(listPath);

    struct Case {
        const char* what;
        std::function<void()> prepare;
    };
    const Case cases[] = {
        {"missing world model", [&] { core.config.worldModel = root + "/none.model"; }},
        {"missing capture image", [&] { ::unlink("lastface.raw.pgm"); }},
        {"broken capture description", [&] { writeText("lastface.info.txt", "BBX_X 1\n"); }},
    };
    for (const Case& k : cases) {
        writeCapture("lastface", 2);
        std::string world = core.config.worldModel;
        k.prepare();
        EXPECT_FALSE(run("lastface", true, 9)) << k.what;
        core.config.worldModel = world;
        EXPECT_EQ(readFile(modelPath), model) << k.what;
        EXPECT_EQ(readFile(listPath), list) << k.what;
        EXPECT_FALSE(exists("lastface.raw.pgm")) << k.what;
    }

    // A lost crop costs its sample only (it once failed every adaptation until the list was fixed).
    ::unlink((user + "/data/s00.cro").c_str());
    writeCapture("lastface", 2);
    EXPECT_TRUE(run("lastface", true, 9)) << "crop of the list missing";
    EXPECT_EQ(listedNames(), std::vector<std::string>{"s09"});

    ::unlink(core.userInfoFilePath("").c_str());
    writeCapture("lastface", 3);
    EXPECT_FALSE(run("lastface", false, 10)) << "no identity record";
    EXPECT_TRUE(exists("lastface.raw.pgm")) << "the capture is kept for a later run";
}

TEST_F(Enrollment, AFifoInPlaceOfACaptureOrCropFileIsRefusedAtOnce) {
    // Opening a FIFO for reading waits for a writer: each of these runs blocked the thread for ever.
    writeCapture("lastface", 1);
    ASSERT_TRUE(run("lastface", false, 0));
    const std::string model = readFile(modelPath), list = readFile(listPath);
    for (const std::string suffix : {".raw.pgm", ".info.txt"}) {
        SCOPED_TRACE(suffix);
        writeCapture("lastface", 2);
        ::unlink(("lastface" + suffix).c_str());
        ASSERT_EQ(::mkfifo(("lastface" + suffix).c_str(), 0600), 0);
        EXPECT_FALSE(run("lastface", true, 9));
        EXPECT_EQ(readFile(modelPath), model);
        EXPECT_EQ(readFile(listPath), list);
    }
    // A sample's crop: that sample is skipped, as a missing one is.
    const std::string crop = user + "/data/s00.cro";
    ::unlink(crop.c_str());
    ASSERT_EQ(::mkfifo(crop.c_str(), 0600), 0);
    writeCapture("lastface", 2);
    EXPECT_TRUE(run("lastface", true, 9));
    EXPECT_EQ(listedNames(), std::vector<std::string>{"s09"});
}

TEST_F(Enrollment, AModelIsKnownByItsWorldModelAndOneThatCannotBeReadGoesAside) {
    writeCapture("lastface", 1);
    ASSERT_TRUE(run("lastface", false, 0));
    EXPECT_EQ(userModelBuiltOn(modelPath, core.config.worldModel), BuiltOn::Same);
    writeMixture(root + "/other.model", 1.5f);
    EXPECT_EQ(userModelBuiltOn(modelPath, root + "/other.model"), BuiltOn::Other);
    EXPECT_EQ(userModelBuiltOn(modelPath, root + "/none.model"), BuiltOn::Unknown);
    EXPECT_FALSE(exists(modelPath + ".bad")) << "a model that reads is replaced, not kept";

    // Truncated: the new model takes its place, the old bytes stay beside it.
    const std::string whole = readFile(modelPath);
    const std::string cut = whole.substr(0, whole.size() / 2);
    writeText(modelPath, cut);
    EXPECT_EQ(userModelBuiltOn(modelPath, core.config.worldModel), BuiltOn::Unknown);
    writeCapture("lastface", 2);
    ASSERT_TRUE(run("lastface", false, 1));
    EXPECT_EQ(readFile(modelPath + ".bad"), cut);
    EXPECT_TRUE(mixtureReadable(modelPath));
    EXPECT_EQ(modeOf(modelPath), 0600u);

    // A build that fails moves nothing.
    writeText(modelPath, cut);
    core.config.worldModel = root + "/none.model";
    writeCapture("lastface", 3);
    EXPECT_FALSE(run("lastface", false, 2));
    EXPECT_EQ(readFile(modelPath), cut);
}

// Notes the nice value of the thread that names the sample: the enrollment thread itself.
class NiceRecorder : public EnrollmentThread {
public:
    NiceRecorder(SessionGuardCore& core, const std::string& prefix, std::atomic<int>* nice)
        : EnrollmentThread(core, prefix, false), nice(nice) {}
    std::string sampleName() const override {
        errno = 0;
        *nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
        return "s00";
    }
    std::atomic<int>* nice;
};

TEST_F(Enrollment, ThreadRunsAtTheLowestPriorityAndPostsItsResult) {
    wxAppConsole* app = wxAppConsole::GetInstance();
    ASSERT_NE(app, nullptr);
    std::vector<int> results;
    auto handler = [&](wxCommandEvent& event) { results.push_back(event.GetInt()); };
    app->Bind(wxEVT_COMMAND_MENU_SELECTED, handler, ID_MODEL_THREAD_DONE);
    auto waitFor = [&](size_t n) {
        for (int i = 0; i < 3000 && results.size() < n; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            app->ProcessPendingEvents();
        }
    };
    std::atomic<int> nice{-100};
    const int own = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    writeCapture("lastface", 1);
    ASSERT_TRUE(EnrollmentThread::start(new NiceRecorder(core, "lastface", &nice)));
    waitFor(1);
    EXPECT_EQ(results, std::vector<int>{MODEL_BUILT});
    EXPECT_EQ(nice.load(), 19);
    EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())), own) << "the caller keeps its priority";
    EXPECT_TRUE(exists(modelPath));
    EXPECT_FALSE(exists("lastface.raw.pgm"));

    // A run that cannot build a model says so; the old model stays.
    const std::string model = readFile(modelPath);
    core.config.worldModel = root + "/none.model";
    writeCapture("lastface", 2);
    ASSERT_TRUE(EnrollmentThread::start(core, "lastface", true));
    waitFor(2);
    EXPECT_EQ(results, (std::vector<int>{MODEL_BUILT, MODEL_NOT_BUILT}));
    EXPECT_EQ(readFile(modelPath), model);
    app->Unbind(wxEVT_COMMAND_MENU_SELECTED, handler, ID_MODEL_THREAD_DONE);
}

}  // namespace
