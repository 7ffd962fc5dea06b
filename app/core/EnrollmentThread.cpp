#include "app/core/EnrollmentThread.h"

#include <cstdio>
#include <ctime>
#include <memory>

#include <sys/resource.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/event.h>

#include "app/core/ModelCheck.h"
#include "app/core/SessionGuardCore.h"
#include "verification/FaceData.h"
#include "verification/FaceVerif.h"
#include "verification/PrivateFile.h"
#include "verification/SampleFiles.h"
#include "verification/UserInfo.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Image.h"
#include "visionlib/Message.h"
#include "visionlib/Random.h"
#include "visionlib/filter/FaceInfo.h"

namespace {
const int kStoreCapacity = 10;
}  // namespace

std::string EnrollmentThread::sampleName() const {
    char name[254];
    std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    std::strftime(name, sizeof name, "%Y%m%d_%H%M%S", &local);
    return name;
}

EnrollmentThread::EnrollmentThread(SessionGuardCore& core, const std::string& capturePrefix, bool adapt_)
    : wxThread(wxTHREAD_DETACHED),
      prefix(capturePrefix),
      adapt(adapt_),
      worldModel(core.config.worldModel),
      dataDir(core.userDataDir()),
      identity(core.loadUserInfo("")) {}

EnrollmentThread::~EnrollmentThread() = default;

bool EnrollmentThread::start(SessionGuardCore& core, const std::string& capturePrefix, bool adapt) {
    return start(new EnrollmentThread(core, capturePrefix, adapt));
}

bool EnrollmentThread::start(EnrollmentThread* thread) {
    if (thread->Create() != wxTHREAD_NO_ERROR) {
        delete thread;
        return false;
    }
    thread->SetPriority(wxPRIORITY_MIN);  // does nothing for normal threads on Linux; see Entry
    if (thread->Run() != wxTHREAD_NO_ERROR) {
        delete thread;
        return false;
    }
    return true;
}

wxThread::ExitCode EnrollmentThread::Entry() {
    // The lowest priority for this thread only: on Linux a thread's nice value is its own.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
    const bool built = buildModel();
    SessionGuardCore::postCommandEvent(ID_MODEL_THREAD_DONE, built ? MODEL_BUILT : MODEL_NOT_BUILT);
    return 0;
}

bool EnrollmentThread::buildModel() {
    if (!identity) return false;  // no user to build for; the capture is kept for a later run

    const std::string userFolder = vision::userFolderPath(dataDir.c_str(), identity.get());
    const std::string modelsFolder = userFolder + "/models";
    const std::string dataFolder = userFolder + "/data";
    const std::string listPath = modelsFolder + "/" + identity->userName + ".facedata.txt";
    const std::string modelPath = modelsFolder + "/" + identity->userName + ".face.model";

    // A model that cannot be read is not written over: it goes aside once the new one is ready.
    const bool unreadable = fileExists(modelPath) && !mixtureReadable(modelPath);
    vision::Random::seed();
    if (!folderExists(modelsFolder) || !folderExists(dataFolder)) {
        vision::makePrivateFolder(userFolder.c_str());
        vision::makePrivateFolder(modelsFolder.c_str());
        vision::makePrivateFolder(dataFolder.c_str());
    }

    bool written = vision::runRecoverable([&] {
        vision::ImageGray image(vision::sampleFramePath(prefix).c_str());
        vision::FrontalFaceData store(identity.get(), image.width, image.height, kStoreCapacity, dataDir.c_str(),
                                      true, false, 0, true);
        if (adapt && fileExists(listPath)) {
            vision::DiskXFile list(listPath.c_str(), "r");
            store.loadXFile(&list);
        }
        vision::FaceInfo face;
        {
            vision::DiskXFile info(vision::sampleDescriptionPath(prefix).c_str(), "r");
            if (!vision::readCaptureDescription(&info, &face))
                vision::error("EnrollmentThread: the capture description <%s.info.txt> cannot be read.", prefix.c_str());
        }
        store.addFaceData(&image, &face, sampleName().c_str());

        vision::FaceVerif_GmmDCTmod2 world(worldModel.c_str(), 0);
        vision::FaceVerif_MapGmmDCTmod2 user(&world, 0);
        if (!user.enroll(&store)) vision::error("EnrollmentThread: the user model could not be enrolled.");
        // Each file replaces its old one only once it is whole.
        vision::writePrivateFile(listPath.c_str(), [&](vision::XFile* file) { store.saveXFile(file); });
        if (unreadable) keepAside(modelPath);
        vision::writePrivateFile(modelPath.c_str(), [&](vision::XFile* file) { user.saveXFile(file); });
    });

    // The capture has been used (or cannot be); it goes either way.
    vision::removeSampleFiles(prefix);
    ::rmdir((userFolder + "/images").c_str());
    return written;
}
