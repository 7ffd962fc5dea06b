#pragma once
// Per-user data is private (folders 0700, files 0600), and a file that replaces user data is written
// under a temporary name and renamed over the old one, so a crash never leaves a half-written file.
#include <functional>

namespace vision {

class XFile;

// Writes path through write(): a private temporary file beside it, then renamed over path. A file that
// cannot be created is fatal, as for any library file opened for writing.
void writePrivateFile(const char* path, const std::function<void(XFile*)>& write);

// Creates one private folder (0700); false when it neither exists nor could be made.
bool makePrivateFolder(const char* path);

}  // namespace vision
