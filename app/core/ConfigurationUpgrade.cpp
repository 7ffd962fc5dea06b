#include "app/core/ConfigurationUpgrade.h"

#include <cstdio>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/core/Configuration.h"
#include "app/core/ModelCheck.h"
#include "app/core/ProductConstants.h"
#include "app/core/SessionGuardCore.h"
#include "src/Logger.h"

namespace {

void log(Logger* logger, const std::string& line) {
    if (logger) logger->log(line);
}

// The model a detector of that type reads: a cascade file, or a model folder for the multi-view tree.
bool detectorModelExists(const Configuration& c) {
    return c.detectorType == 2 ? folderExists(c.detectorModel) : fileExists(c.detectorModel);
}

void logReplacement(Logger* logger, const std::string& what, const std::string& previous, const std::string& next) {
    log(logger, what);
    LogIndent deeper(logger);
    log(logger, "Previous model file: " + previous);
    log(logger, "New model file:      " + next);
}

}  // namespace

namespace {

bool checkModels(SessionGuardCore& core, Configuration& current, const Configuration& reference,
                 std::string* notice, const std::string& userModel) {
    Logger* logger = core.logger;
    log(logger, "Checking the models...");
    LogIndent indent(logger);
    const auto tell = [notice](const std::string& text) {
        if (notice && !text.empty()) *notice += (notice->empty() ? "" : "\n") + text;
    };
    bool changed = false;
    if (!detectorModelExists(current)) {
        logReplacement(logger, "The face detector model file don't exist anymore, will use another one", current.detectorModel,
                       reference.detectorModel);
        current.detectorModel = reference.detectorModel;
        // The path means a file or a folder by the detector's type: the two travel together.
        if (current.detectorType != reference.detectorType) {
            current.detectorType = reference.detectorType;
            current.detectorNormalized = reference.detectorNormalized;
        }
        changed = true;
    }
    const bool enrolled = !userModel.empty() && fileExists(userModel);
    if (!fileExists(current.worldModel)) {
        // A user model is made on one world model and serves with it alone: another one is taken
        // only where it cannot cost the user's model (none, or one made on it). A missing file is
        // never a reason to lose it.
        if (!enrolled || userModelBuiltOn(userModel, reference.worldModel) == BuiltOn::Same) {
            logReplacement(logger, "The face verificator world model file don't exist anymore, will use another one",
                           current.worldModel, reference.worldModel);
            current.worldModel = reference.worldModel;
            changed = true;
        } else {
            log(logger, "WARNING: The face verificator world model file don't exist anymore, the user model is kept "
                        "and faces are not checked");
            LogIndent deeper(logger);
            log(logger, "Missing model file: " + current.worldModel);
        }
    } else if (enrolled && userModelBuiltOn(userModel, current.worldModel) == BuiltOn::Other) {
        // The one reason to clear it: the world model is there, reads, and is not the user model's.
        log(logger, "WARNING: The user model is cleared, since it was built on another world model");
        ClearUserModel(core);
        tell("Your face model was made with another world model than " + current.worldModel +
             ": it was cleared, please enroll again.");
        return changed;
    }
    const FaceCheck check = checkFaceFiles(current, enrolled ? userModel : std::string());
    if (check.state != FaceCheckState::NoUserModel && !check.ready()) {
        log(logger, faceCheckLogLine(check));
        tell(startupNotice(check));
    }
    return changed;
}

}  // namespace

bool CheckModels(SessionGuardCore& core, Configuration& current, const Configuration& reference,
                 std::string* notice) {
    return checkModels(core, current, reference, notice, core.userModelPath());
}

bool upgradeConfiguration(SessionGuardCore& core, Configuration& current, std::string* notice) {
    Logger* logger = core.logger;
    Configuration reference;
    bool referenceLoaded = reference.load(kProductConstants[PC_REFERENCE_CONFIG], logger);
    // Without a reference there is nothing to upgrade to; clearing the user model then would only
    // lose it at every start. The path is asked before anything is cleared: the asking makes the
    // user data folder again.
    const std::string userModel = core.userModelPath();
    if (!referenceLoaded || current.version == reference.version)
        return checkModels(core, current, reference, notice, userModel);
    if (current.version == "0.0" && reference.version == "1.3")
        log(logger, "Upgrading from version 0.0 to 1.3...");
    else if (current.version == "1.2" && reference.version == "1.3")
        log(logger, "Upgrading from version 1.2 to 1.3...");
    else
        log(logger, "Upgrading from unknown version to 1.3...");
    ClearUserModel(core);
    checkModels(core, current, reference, notice, userModel);
    // The reference's version, so that the next start finds the two alike and keeps the user model.
    current.version = reference.version;
    return true;
}

void removeFolderFiles(const std::string& folder) {
    if (!folderExists(folder)) return;
    std::vector<std::string> files;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name.empty() || name[0] == '.') continue;  // hidden files stay
            struct stat st;
            std::string path = folder + "/" + name;
            if (::lstat(path.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) files.push_back(path);
        }
        ::closedir(dir);
    }
    for (auto& f : files) std::remove(f.c_str());
    ::rmdir(folder.c_str());
}

void ClearUserModel(SessionGuardCore& core) {
    log(core.logger, "Clear the user model...");
    std::string dataDir = core.userDataDir();
    // Without an identity record no per-user folder can be named; the data folder's files still go.
    std::string user = core.userFolderPath();
    if (!user.empty()) {
        for (const char* sub : {"models", "data", "images"}) {
            removeFolderFiles(user + "/" + sub + "/backup");
            removeFolderFiles(user + "/" + sub);
        }
        removeFolderFiles(user);
    }
    removeFolderFiles(dataDir);
}
