#pragma once
// Builds the user's face model away from the GUI thread: one captured face (prefix + ".raw.pgm" and
// ".info.txt", with a ".crop.pgm" beside a near miss) joins the user's store of at most ten samples,
// the world model is MAP-adapted to every sample of the store, the face list and the model are
// written, the capture files are deleted, and the application object gets ID_MODEL_THREAD_DONE.
//
// A capture, a face list or a world model that cannot be read, or a file that cannot be written,
// ends the run and leaves the model and face list as they were: the new ones replace the old only
// once they are whole. Without an identity record nothing is built and the capture stays. A model
// that cannot be read is kept as "<model>.bad" when the new one is written.
#include <memory>
#include <string>

#include <wx/thread.h>

// ID_MODEL_THREAD_DONE: the command event (wxEVT_COMMAND_MENU_SELECTED) posted to the application
// object at the end of a run; its integer is MODEL_BUILT when a new model was written, else
// MODEL_NOT_BUILT (the old model is then kept).
#include "app/capture/Notifications.h"

constexpr int MODEL_NOT_BUILT = 0;
constexpr int MODEL_BUILT = 1;

class SessionGuardCore;
namespace vision {
class UserInfo;
}

class EnrollmentThread : public wxThread {
public:
    // adapt: start from the samples already stored, else from an empty store. What the run needs
    // of the user's files (world model, data folder, identity record) is read here, on the creating
    // thread: the run never reaches the core.
    EnrollmentThread(SessionGuardCore& core, const std::string& capturePrefix, bool adapt);
    ~EnrollmentThread() override;

    // Creates a detached thread at the lowest priority and runs it; it deletes itself. False when it
    // could not be started (the object is then deleted too).
    static bool start(SessionGuardCore& core, const std::string& capturePrefix, bool adapt);
    static bool start(EnrollmentThread* thread);

    // The work of the thread without the completion event; true when a model was written.
    bool buildModel();

protected:
    ExitCode Entry() override;
    // The new sample's name: the local time, "%Y%m%d_%H%M%S".
    virtual std::string sampleName() const;

private:
    std::string prefix;
    bool adapt;
    std::string worldModel;
    std::string dataDir;
    std::unique_ptr<vision::UserInfo> identity;  // null: no user to build for
};
