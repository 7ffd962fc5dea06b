#include "verification/TextLines.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace vision {

bool readTextLine(XFile* file, char* buffer) {
    if (!file->gets(buffer, TEXT_LINE_SIZE))
        return false;
    size_t n = strlen(buffer);
    if (n > 0 && buffer[n - 1] == '\n') {
        buffer[--n] = '\0';
    } else if (n == (size_t)TEXT_LINE_SIZE - 1 && !file->eof()) {
        return false;  // cut: the rest of the line is still in the file
    }
    // Every carriage return: one left behind would be dropped by the next save and re-read, changing
    // what the line names between runs.
    while (n > 0 && buffer[n - 1] == '\r')
        buffer[--n] = '\0';
    return true;
}

const char* textLineValue(const char* line) {
    const char* p = line;
    while (*p == ' ' || *p == '\t')
        p++;
    while (*p && *p != ' ' && *p != '\t')
        p++;
    if (*p)
        p++;
    return p;
}

bool textLineInt(const char* line, int* value) {
    const char* text = textLineValue(line);
    char* end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (end == text || errno == ERANGE || v < INT_MIN || v > INT_MAX)
        return false;
    *value = (int)v;
    return true;
}

}  // namespace vision

namespace vision {

namespace {
locale_t cLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    return c;
}
}  // namespace

CLocaleScope::CLocaleScope() : previous(uselocale(cLocale())) {}

CLocaleScope::~CLocaleScope() { uselocale(previous); }

}  // namespace vision
