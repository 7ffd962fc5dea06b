#include "verification/UserInfo.h"

#include <cstdio>
#include <cstring>

#include "verification/TextLines.h"
#include "visionlib/Allocator.h"
#include "visionlib/Message.h"
#include "visionlib/XFile.h"

namespace vision {

namespace {
const char* text(const char* s) { return s ? s : ""; }
}  // namespace

UserInfo::UserInfo()
    : maxStringSize(0), userId(-1), userName(nullptr), firstName(nullptr), lastName(nullptr),
      birthYear(0), gender(' ') {}

UserInfo::UserInfo(int id, const char* user, const char* first, const char* last, int year, char g)
    : UserInfo() {
    if (!user || !first || !last)
        error("UserInfo::UserInfo() : an argument is NULL.");
    userId = id;
    userName = copyString(user);
    firstName = copyString(first);
    lastName = copyString(last);
    birthYear = year;
    gender = g;
    maxStringSize = (int)strlen(user);
    if ((int)strlen(first) > maxStringSize)
        maxStringSize = (int)strlen(first);
    if ((int)strlen(last) > maxStringSize)
        maxStringSize = (int)strlen(last);
}

UserInfo::~UserInfo() {}

char* UserInfo::copyString(const char* s) {
    size_t n = strlen(s) + 1;
    char* copy = (char*)allocator->alloc((long)n);
    memcpy(copy, s, n);
    return copy;
}

void UserInfo::clearFields() {
    allocator->free(userName);
    allocator->free(firstName);
    allocator->free(lastName);
    userName = firstName = lastName = nullptr;
    maxStringSize = 0;
    userId = -1;
    birthYear = 0;
    gender = ' ';
}

void UserInfo::saveXFile(XFile* file) {
    file->printf("USERID %d\n", userId);
    file->printf("MAXSTRINGSIZE %d\n", maxStringSize);
    file->printf("USERNAME %s\n", text(userName));
    file->printf("FIRSTNAME %s\n", text(firstName));
    file->printf("LASTNAME %s\n", text(lastName));
    file->printf("BYEAR %d\n", birthYear);
    file->printf("GENDER %c\n", gender);
}

// Read by position, one line per field: the key word, then the rest of the line. A name may be empty
// but never longer than the record's MAXSTRINGSIZE.
bool UserInfo::read(XFile* file) {
    clearFields();
    char line[TEXT_LINE_SIZE];
    int id, size, year;
    const char* names[3];
    char* copies[3] = {nullptr, nullptr, nullptr};
    bool ok = readTextLine(file, line) && textLineInt(line, &id) && readTextLine(file, line) &&
              textLineInt(line, &size) && size >= 0 && size < TEXT_LINE_SIZE;
    for (int i = 0; ok && i < 3; i++) {
        ok = readTextLine(file, line);
        if (!ok)
            break;
        names[i] = textLineValue(line);
        ok = (int)strlen(names[i]) <= size;
        if (ok)
            copies[i] = copyString(names[i]);
    }
    ok = ok && readTextLine(file, line) && textLineInt(line, &year) && readTextLine(file, line);
    if (!ok) {
        for (char* c : copies)
            allocator->free(c);
        return false;
    }
    const char* g = textLineValue(line);
    userId = id;
    maxStringSize = size;
    userName = copies[0];
    firstName = copies[1];
    lastName = copies[2];
    birthYear = year;
    gender = *g ? *g : ' ';
    return true;
}

void UserInfo::loadXFile(XFile* file) {
    if (!read(file))
        error("UserInfo::loadXFile() : the identity record cannot be read.");
}

UserInfo* UserInfo::readFrom(XFile* file) {
    UserInfo* info = new UserInfo();
    if (!info->read(file)) {
        delete info;
        return nullptr;
    }
    return info;
}

void UserInfo::print() {
    vision::print("UserInfo (%s) [%d]:\n", text(userName), userId);
    vision::print("   firstname = %s\n", text(firstName));
    vision::print("   lastname = %s\n", text(lastName));
    if (birthYear == 0)
        vision::print("   birth year unknown\n");
    else
        vision::print("   byear = %d\n", birthYear);
    if (gender == ' ')
        vision::print("   gender unknown\n");
    else
        vision::print("   gender = %c\n", gender);
}

std::string UserInfo::folderName() const {
    char id[16];
    snprintf(id, sizeof id, "%04d", userId);
    return std::string(text(userName)) + "_" + id;
}

bool usableUserName(const std::string& name) {
    return !name.empty() && name.size() <= (size_t)MAX_USER_NAME_LENGTH && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

std::string userFolderPath(const char* directory, const UserInfo* identity) {
    std::string name = identity->folderName();
    if (!directory || !*directory)
        return name;
    std::string dir = directory;
    if (dir.back() == '/')
        return dir + name;
    return dir + "/" + name;
}

}  // namespace vision
