#pragma once
// What the application object knows of the logged-on user: the account name, the user data folder
// with the configuration and the identity record, the per-user folder with the face model, and the
// two readiness tests (a usable camera, an existing user model). The application object derives from
// this class and passes it, or its logger, to what needs them. The first core made is the
// registered ApplicationServices of the capture pieces while it lives.
//
// Paths use '/'. The per-user folder is "<user data folder>/<user name>_<id, four digits>", the one
// name the face sample store uses too.
#include <string>

#include "app/capture/ApplicationServices.h"
#include "app/core/Configuration.h"
#include "app/core/ModelCheck.h"

class Logger;
namespace vision {
class UserInfo;
}

class SessionGuardCore : public ApplicationServices {
public:
    SessionGuardCore();
    virtual ~SessionGuardCore();
    SessionGuardCore(const SessionGuardCore&) = delete;
    SessionGuardCore& operator=(const SessionGuardCore&) = delete;

    Configuration config;
    Logger* logger = nullptr;        // not owned here; null logs nothing
    bool adaptationRunning = false;  // a model adaptation runs on the enrollment thread

    // One line to the logger, when there is one.
    void log(const std::string& line);
    // "DOMAIN\user" split at the first back-slash; both left unchanged when the name cannot be read.
    void currentWindowsUser(std::string& domain, std::string& user);
    // The user part with blanks made underscores; empty when the name cannot be read.
    std::string userFolderName();
    // The per-user data folder of the application, created (0700) when missing.
    std::string userDataDir() override;
    std::string configFilePath();
    std::string userInfoFilePath(const std::string& prefix);
    // The identity record of that prefix (the caller deletes it), or null when the file is missing,
    // cannot be read, or names a user that cannot name a folder.
    vision::UserInfo* loadUserInfo(const std::string& prefix) override;
    // Writes the identity record and its "access-" twin (0600); keeps the id and user name of an
    // existing record, else takes config.nextUserId (and increases it).
    bool createUserInfo(const std::string& first, const std::string& last, int birthYear, bool male);
    // The per-user folder of the identity record; empty without a record.
    std::string userFolderPath();
    // "<per-user folder>/models/<user name>.face.model"; empty without a record.
    std::string userModelPath() override;
    bool userModelExists();
    // "<per-user folder>/images/lastface": the near miss that the unlock screen keeps; empty
    // without a record.
    std::string nearMissPrefix();
    // Deletes the near miss's three files (missing ones are no error).
    void deleteNearMiss();
    bool isCameraAvailable();
    bool isReadyToAuthenticate();
    // Whether a face check can run now, and if not, why: a camera configured, then the model files
    // (checkFaceFiles). The camera's presence is not probed: a graph that cannot start says so itself.
    FaceCheck faceCheck();
    // The model files alone, whatever the camera.
    FaceCheck faceFilesCheck();
    // Ready to authenticate with a user model that can be read: "Update model" adds to it, where
    // otherwise "Enroll model" makes a new one.
    bool canUpdateModel();

    // ApplicationServices.
    Logger* getLogger() override { return logger; }
    // Posted to the toolkit's application object, when there is one.
    void addPendingCommandEvent(int id) override { postCommandEvent(id, 0); }
    // The same with the event's integer set to value; from any thread.
    static void postCommandEvent(int id, int value);
    CaptureConfiguration captureConfiguration() override;

protected:
    // The toolkit's user data folder of the application; tests put it elsewhere.
    virtual std::string baseUserDataDir();
    // The account's SAM-compatible name ("DOMAIN\user"); false when it cannot be read.
    virtual bool readAccountName(std::string& name);
};

// True when the file exists and is a plain file (a folder does not count).
bool fileExists(const std::string& path);
bool folderExists(const std::string& path);
