#include "app/core/ModelCheck.h"

#include <cstdio>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/core/Configuration.h"
#include "app/core/ProductConstants.h"
#include "verification/FaceVerif.h"
#include "visionlib/DiagonalGMM.h"
#include "visionlib/Message.h"

namespace {

enum class Presence { Absent, Readable, Unreadable };

// Only a plain file (or, for a model folder, a folder) that opens counts: anything else at the
// path, a FIFO among them, is not read at all.
Presence presence(const std::string& path, bool folder) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return Presence::Absent;
    if (folder) {
        DIR* dir = S_ISDIR(st.st_mode) ? ::opendir(path.c_str()) : nullptr;
        if (!dir) return Presence::Unreadable;
        ::closedir(dir);
        return Presence::Readable;
    }
    if (!S_ISREG(st.st_mode)) return Presence::Unreadable;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Presence::Unreadable;
    ::close(fd);
    return Presence::Readable;
}

// Both mixtures read as the verification filter's world model reads (sizes, finite weights and
// means, variances above 0); null when the file cannot be read as one.
std::unique_ptr<vision::FaceVerif_GmmDCTmod2> loadMixture(const std::string& path) {
    if (presence(path, false) != Presence::Readable) return nullptr;
    std::unique_ptr<vision::FaceVerif_GmmDCTmod2> model;
    if (!vision::runRecoverable([&] { model = std::make_unique<vision::FaceVerif_GmmDCTmod2>(path.c_str()); }))
        return nullptr;
    return model;
}

std::string quoted(const std::string& file) { return "'" + file + "'"; }

}  // namespace

bool mixtureReadable(const std::string& path) { return loadMixture(path) != nullptr; }

BuiltOn userModelBuiltOn(const std::string& userModelPath, const std::string& worldModelPath) {
    const auto user = loadMixture(userModelPath);
    const auto world = loadMixture(worldModelPath);
    if (!user || !world) return BuiltOn::Unknown;
    const vision::DiagonalGMM& u = *user->gmm;
    const vision::DiagonalGMM& w = *world->gmm;
    if (u.n_gaussians != w.n_gaussians || u.n_inputs != w.n_inputs) return BuiltOn::Other;
    for (int g = 0; g < u.n_gaussians; ++g) {
        if (u.log_weights[g] != w.log_weights[g]) return BuiltOn::Other;
        for (int j = 0; j < u.n_inputs; ++j)
            if (u.var[g][j] != w.var[g][j]) return BuiltOn::Other;
    }
    return BuiltOn::Same;
}

FaceCheck checkFaceFiles(const Configuration& config, const std::string& userModelPath) {
    switch (presence(config.detectorModel, config.detectorType == 2)) {
    case Presence::Absent: return {FaceCheckState::DetectorModelMissing, config.detectorModel};
    case Presence::Unreadable: return {FaceCheckState::DetectorModelUnreadable, config.detectorModel};
    case Presence::Readable: break;
    }
    if (presence(config.worldModel, false) == Presence::Absent)
        return {FaceCheckState::WorldModelMissing, config.worldModel};
    if (!mixtureReadable(config.worldModel)) return {FaceCheckState::WorldModelUnreadable, config.worldModel};
    if (presence(userModelPath, false) == Presence::Absent) return {FaceCheckState::NoUserModel, userModelPath};
    if (!mixtureReadable(userModelPath)) return {FaceCheckState::UserModelUnreadable, userModelPath};
    return {};
}

std::string faceCheckLogLine(const FaceCheck& check) {
    switch (check.state) {
    case FaceCheckState::Ready: return "";
    case FaceCheckState::NoCamera: return "No webcam selected or found";
    case FaceCheckState::NoUserModel: return "No user model found";
    case FaceCheckState::DetectorModelMissing:
        return "ERROR: The face detector model " + quoted(check.file) + " is missing, faces are not checked";
    case FaceCheckState::DetectorModelUnreadable:
        return "ERROR: The face detector model " + quoted(check.file) + " cannot be read, faces are not checked";
    case FaceCheckState::WorldModelMissing:
        return "ERROR: The world model " + quoted(check.file) + " is missing, faces are not checked";
    case FaceCheckState::WorldModelUnreadable:
        return "ERROR: The world model " + quoted(check.file) + " cannot be read, faces are not checked";
    case FaceCheckState::UserModelUnreadable:
        return "ERROR: The user model " + quoted(check.file) + " cannot be read, faces are not checked";
    }
    return "";
}

namespace {
// The installation's file that face checks need, and what is wrong with it.
bool installationFile(const FaceCheck& check, std::string& what) {
    switch (check.state) {
    case FaceCheckState::DetectorModelMissing:
    case FaceCheckState::WorldModelMissing: what = "is missing"; return true;
    case FaceCheckState::DetectorModelUnreadable:
    case FaceCheckState::WorldModelUnreadable: what = "cannot be read"; return true;
    default: return false;
    }
}
}  // namespace

std::string unlockScreenText(const FaceCheck& check) {
    std::string what;
    if (installationFile(check, what))
        return "Your face cannot open this lock: the file " + quoted(check.file) + " that face checks need " + what +
               ".\n\nUse your password to log in.";
    switch (check.state) {
    case FaceCheckState::NoCamera: return "You didn't selected a webcam, or\nnone was found!";
    case FaceCheckState::NoUserModel: return "Your face model isn't created yet!\n\nUse your password to log in.";
    case FaceCheckState::UserModelUnreadable:
        return "Your face cannot open this lock: your face model cannot be read.\n\nUse your password to log in, "
               "then enroll a new model in the settings.";
    default: return "";
    }
}

std::string enrollmentPageTitle(const FaceCheck& check) {
    std::string what;
    if (installationFile(check, what))
        return "Faces cannot be checked, this file " + what + ":\n" + check.file + "\nYour face model is kept";
    if (check.state == FaceCheckState::UserModelUnreadable)
        return "Your face model cannot be read\nEnter your password to enroll a new one";
    return "";
}

std::string startupNotice(const FaceCheck& check) {
    std::string what;
    if (installationFile(check, what))
        return "The file " + quoted(check.file) + " that face checks need " + what +
               ": faces are not checked and the password opens the lock. Your face model is kept.";
    if (check.state == FaceCheckState::UserModelUnreadable)
        return std::string("Your face model cannot be read: the password opens the lock. Enroll a new model in the "
                           "settings of ") +
               kProductConstants[PC_PRODUCT] + ".";
    return "";
}

std::string keepAside(const std::string& path) {
    const std::string aside = path + ".bad";
    std::remove(aside.c_str());
    return std::rename(path.c_str(), aside.c_str()) == 0 ? aside : std::string();
}
