#pragma once
// Bringing a user's configuration up to the reference copy shipped in the working folder
// ("Tarvelo.cfg.backup"), and clearing the user's face model and samples. The core names the
// user's files and holds the logger.
#include <string>

class Configuration;
class SessionGuardCore;

// True when current changed and must be saved. A configuration of another version than the
// reference's is upgraded (the user model is cleared, missing model paths are taken from the
// reference); one of the same version has only its model paths checked. A reference that cannot be
// loaded upgrades nothing: only the model paths are checked, against the default paths. What the
// user must be told of the models (see CheckModels) goes into notice, a line each.
bool upgradeConfiguration(SessionGuardCore& core, Configuration& current, std::string* notice = nullptr);
// Replaces a model path of current that names nothing by the reference's; true when it did. A
// frontal detector's model is a file, a multi-view detector's a folder. A missing world model is
// replaced only where the user model is none or was built on the reference's; otherwise it stays,
// and faces are not checked. The user model is cleared only when the configured world model exists,
// reads and is not the one it was built on. A model file that is missing or cannot be read after
// that (detector, world or user model) is logged and said in notice; nothing is deleted for it.
bool CheckModels(SessionGuardCore& core, Configuration& current, const Configuration& reference,
                 std::string* notice = nullptr);
// Deletes the per-user folder with its models, data and images (and their "backup" folders), then
// the plain files of the user data folder (the configuration and both identity records among them).
void ClearUserModel(SessionGuardCore& core);
// Deletes the plain files directly in folder (hidden ones stay), then the folder when it is empty.
void removeFolderFiles(const std::string& folder);
