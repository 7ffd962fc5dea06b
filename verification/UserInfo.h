#pragma once
// Who the stored faces and models belong to: a numeric id, a user name and personal details.
#include <string>

#include "visionlib/Object.h"

namespace vision {

class XFile;

class UserInfo : public Object {
public:
    int maxStringSize;  // length of the longest of the three names
    int userId;
    char* userName;
    char* firstName;
    char* lastName;
    int birthYear;  // 0 = unknown
    char gender;    // ' ' = unknown

    // Empty record (id -1), to be filled by loadXFile.
    UserInfo();
    // A NULL string is fatal.
    UserInfo(int id, const char* userName, const char* firstName, const char* lastName, int birthYear,
             char gender);

    // A record that cannot be read (missing line, name longer than MAXSTRINGSIZE) is fatal here.
    void loadXFile(XFile* file) override;
    void saveXFile(XFile* file) override;
    ~UserInfo() override;

    // Reads the record; false leaves it empty (id -1, no names) instead of ending the process.
    bool read(XFile* file);
    // For program callers: a new record, or NULL when the file does not hold a readable one.
    static UserInfo* readFrom(XFile* file);

    void print();

    // The per-user folder's name, "<user name>_<id, four digits>"; every path of the user's data uses it.
    std::string folderName() const;

private:
    void clearFields();
    char* copyString(const char* text);
};

// The longest user name (the account's, blanks made underscores) that names the per-user folder and
// files: account names are far shorter (at most 32 characters on Linux, 20 on Windows), and the
// longest file named after it, the twin record "access-<name>.userinfo.txt" written under a temporary
// name, then still fits a file name (255 bytes).
const int MAX_USER_NAME_LENGTH = 128;

// True when name can be the user name of the per-user folder and files: one folder name (not empty,
// ".", "..", no '/' or '\'), at most MAX_USER_NAME_LENGTH characters.
bool usableUserName(const std::string& name);

// "<directory>/<user name>_<id>" (the bare folder name when directory is empty).
std::string userFolderPath(const char* directory, const UserInfo* identity);

}  // namespace vision
