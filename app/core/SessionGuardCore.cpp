#include "app/core/SessionGuardCore.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include <sys/stat.h>
#include <wx/app.h>
#include <wx/event.h>
#include <wx/stdpaths.h>

#include "app/core/ProductConstants.h"
#include "platform/kernel.h"
#include "src/DSF_GraphManager.h"
#include "src/Logger.h"
#include "verification/PrivateFile.h"
#include "verification/SampleFiles.h"
#include "verification/UserInfo.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Message.h"

namespace {
std::atomic<SessionGuardCore*> g_core{nullptr};

// A record's user name must name the user's folder and files; a twin's is the account's after its
// prefix.
bool usableRecordName(const char* name, const std::string& prefix) {
    if (!name) return false;
    std::string n = name;
    if (!prefix.empty() && n.compare(0, prefix.size(), prefix) == 0) n.erase(0, prefix.size());
    return vision::usableUserName(n);
}

bool saveRecord(const std::string& path, vision::UserInfo& record) {
    // A file that cannot be written is a failed creation, not the end of the program.
    return vision::runRecoverable(
        [&] { vision::writePrivateFile(path.c_str(), [&](vision::XFile* file) { record.saveXFile(file); }); });
}
}  // namespace

SessionGuardCore::SessionGuardCore() {
    SessionGuardCore* none = nullptr;
    if (g_core.compare_exchange_strong(none, this)) setApplication(this);
}

SessionGuardCore::~SessionGuardCore() {
    SessionGuardCore* self = this;
    if (g_core.compare_exchange_strong(self, nullptr)) setApplication(nullptr);
}

void SessionGuardCore::log(const std::string& line) {
    if (logger) logger->log(line);
}

void SessionGuardCore::postCommandEvent(int id, int value) {
    if (wxAppConsole* app = wxAppConsole::GetInstance()) {
        wxCommandEvent event(wxEVT_COMMAND_MENU_SELECTED, id);
        event.SetInt(value);
        app->AddPendingEvent(event);
    }
}

CaptureConfiguration SessionGuardCore::captureConfiguration() {
    CaptureConfiguration c;
    c.cameraName = config.cameraName;
    c.formatWidth = config.getFormatWidth();
    c.formatHeight = config.getFormatHeight();
    c.detectorType = config.detectorType;
    c.detectorModel = config.detectorModel;
    c.detectorThreshold = config.detectorThreshold;
    c.detectorNormalized = config.detectorNormalized;
    c.maxFaces = config.maxFaces;
    c.trackingSettings = config.trackingSettings;
    c.worldModel = config.worldModel;
    c.goodDetectionConfidence = config.goodDetectionConfidence;
    c.badVerificationConfidence = config.badVerificationConfidence;
    c.adaptationThreshold = config.adaptationThreshold;
    return c;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool folderExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SessionGuardCore::readAccountName(std::string& name) {
    char buffer[256];
    ULONG size = sizeof buffer;
    if (!GetUserNameExA(NameSamCompatible, buffer, &size)) return false;
    name.assign(buffer, size);
    return true;
}

void SessionGuardCore::currentWindowsUser(std::string& domain, std::string& user) {
    std::string name;
    if (!readAccountName(name)) return;
    size_t slash = name.find('\\');
    if (slash == std::string::npos) {
        user = name;
        return;
    }
    domain = name.substr(0, slash);
    user = name.substr(slash + 1);
}

std::string SessionGuardCore::userFolderName() {
    std::string domain, user;
    currentWindowsUser(domain, user);
    for (char& c : user)
        if (c == ' ') c = '_';
    return user;
}

std::string SessionGuardCore::baseUserDataDir() {
    return std::string(wxStandardPaths::Get().GetUserDataDir().utf8_str());
}

std::string SessionGuardCore::userDataDir() {
    std::string dir = baseUserDataDir();
    if (!folderExists(dir)) vision::makePrivateFolder(dir.c_str());
    return dir;
}

std::string SessionGuardCore::configFilePath() {
    return userDataDir() + "/" + kProductConstants[PC_PRODUCT] + ".cfg";
}

std::string SessionGuardCore::userInfoFilePath(const std::string& prefix) {
    return userDataDir() + "/" + prefix + userFolderName() + kProductConstants[PC_USERINFO_SUFFIX];
}

vision::UserInfo* SessionGuardCore::loadUserInfo(const std::string& prefix) {
    std::string path = userInfoFilePath(prefix);
    if (!fileExists(path)) return nullptr;
    vision::DiskXFile* file = vision::DiskXFile::tryOpen(path.c_str(), "r");
    if (!file) return nullptr;
    vision::UserInfo* record = vision::UserInfo::readFrom(file);
    delete file;
    if (record && !usableRecordName(record->userName, prefix)) {
        delete record;
        record = nullptr;
    }
    return record;
}

bool SessionGuardCore::createUserInfo(const std::string& first, const std::string& last, int birthYear,
                                      bool male) {
    char gender = male ? 'M' : 'F';
    std::string user = userFolderName();
    if (user.empty()) {
        // Without the account's name the record could name no per-user folder of its own.
        if (logger) logger->log("ERROR: The name of the user account cannot be read, no identity record is created");
        return false;
    }
    // A name that cannot name the user's folder and files would leave a user who can never enroll.
    if (user.size() > (size_t)vision::MAX_USER_NAME_LENGTH) {
        if (logger)
            logger->log("ERROR: The user name " + user + " is longer than " +
                        std::to_string(vision::MAX_USER_NAME_LENGTH) + " characters, no identity record is created");
        return false;
    }
    if (!vision::usableUserName(user)) {
        if (logger) logger->log("ERROR: The user name " + user + " cannot name a folder, no identity record is created");
        return false;
    }
    vision::UserInfo* existing = loadUserInfo("");
    int id;
    if (existing) {
        id = existing->userId;
        user = existing->userName;
    } else {
        id = config.nextUserId++;
    }
    delete existing;
    vision::UserInfo record(id, user.c_str(), first.c_str(), last.c_str(), birthYear, gender);
    if (!saveRecord(userInfoFilePath(""), record)) return false;
    std::string twinName = "access-" + userFolderName();
    vision::UserInfo twin(id, twinName.c_str(), first.c_str(), last.c_str(), birthYear, gender);
    return saveRecord(userInfoFilePath("access-"), twin);
}

std::string SessionGuardCore::userFolderPath() {
    vision::UserInfo* record = loadUserInfo("");
    if (!record) return "";
    std::string path = vision::userFolderPath(userDataDir().c_str(), record);
    delete record;
    return path;
}

std::string SessionGuardCore::userModelPath() {
    vision::UserInfo* record = loadUserInfo("");
    if (!record) return "";
    std::string path = vision::userFolderPath(userDataDir().c_str(), record) + "/models/" + record->userName +
                       ".face.model";
    delete record;
    return path;
}

std::string SessionGuardCore::nearMissPrefix() {
    const std::string folder = userFolderPath();
    return folder.empty() ? folder : folder + "/images/" + vision::kLastFace;
}

void SessionGuardCore::deleteNearMiss() {
    const std::string prefix = nearMissPrefix();
    if (prefix.empty()) return;
    vision::removeSampleFiles(prefix);
}

bool SessionGuardCore::userModelExists() {
    if (adaptationRunning) return false;
    std::string path = userModelPath();
    return !path.empty() && fileExists(path);
}

bool SessionGuardCore::isCameraAvailable() {
    if (config.cameraName.empty()) return false;
    DirectShowFramework::GraphManager probe(nullptr);
    return probe.hasVideoCaptureDevice(config.cameraName);
}

bool SessionGuardCore::isReadyToAuthenticate() { return isCameraAvailable() && userModelExists(); }

FaceCheck SessionGuardCore::faceFilesCheck() {
    return checkFaceFiles(config, userModelExists() ? userModelPath() : std::string());
}

FaceCheck SessionGuardCore::faceCheck() {
    if (config.cameraName.empty()) return {FaceCheckState::NoCamera, ""};
    return faceFilesCheck();
}

bool SessionGuardCore::canUpdateModel() { return isReadyToAuthenticate() && mixtureReadable(userModelPath()); }
