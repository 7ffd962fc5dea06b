#pragma once
// Whether the user's face can open a lock now, and if not, why: the model files that face checks
// need (the detector's model, the world model, the user's model), what each window says about them,
// and how a user model relates to a world model. Nothing here deletes a file.
#include <string>

class Configuration;

enum class FaceCheckState {
    Ready,
    NoCamera,                 // none configured
    DetectorModelMissing,     // the cascade file, or the multi-view model folder
    DetectorModelUnreadable,
    WorldModelMissing,
    WorldModelUnreadable,
    NoUserModel,              // none enrolled (or an adaptation is rewriting it)
    UserModelUnreadable,
};

struct FaceCheck {
    FaceCheckState state = FaceCheckState::Ready;
    std::string file;  // the file at fault, for the states that have one
    bool ready() const { return state == FaceCheckState::Ready; }
};

// The files in that order: the detector's model and the world model (both the installation's), then
// the user's model at userModelPath ("" or no file: none enrolled). Reads the two mixtures.
FaceCheck checkFaceFiles(const Configuration& config, const std::string& userModelPath);

// A mixture file (world or user model) that loads as one.
bool mixtureReadable(const std::string& path);

// What a user model is to a world model. MAP enrollment adapts the world's means only, so a user
// model built on a world model has its size, weights and variances.
enum class BuiltOn { Same, Other, Unknown /* either file cannot be read */ };
BuiltOn userModelBuiltOn(const std::string& userModelPath, const std::string& worldModelPath);

// The log line of a state that is not Ready.
std::string faceCheckLogLine(const FaceCheck& check);
// What the unlock screen shows in place of the video; "" when Ready.
std::string unlockScreenText(const FaceCheck& check);
// The enrollment page's title when the models need saying (two or three lines); "" otherwise.
std::string enrollmentPageTitle(const FaceCheck& check);
// Told once at start-up, beside the log line; "" for Ready, no camera and no model.
std::string startupNotice(const FaceCheck& check);

// Moves a file aside as path + ".bad" (an older one there goes): kept for the user, out of the way of
// a new one. Returns the new name, "" when it could not be moved.
std::string keepAside(const std::string& path);
