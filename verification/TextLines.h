#pragma once
// Line-by-line reading of the library's small text records ("KEY value" per line), with bounded widths.
#include "visionlib/XFile.h"

namespace vision {

// Longest line a text record may hold, line feed included.
const int TEXT_LINE_SIZE = 4096;

// Reads one line into buffer (TEXT_LINE_SIZE bytes) without its line feed (and a carriage return before
// it). False at end of file, or when the line does not fit the buffer.
bool readTextLine(XFile* file, char* buffer);

// The text after the line's key word and the one blank that follows it ("" when there is none).
const char* textLineValue(const char* line);

// The value of a "KEY %d" line; false when it is not a number.
bool textLineInt(const char* line, int* value);

}  // namespace vision

#include <locale.h>

namespace vision {

// Numbers in text records are written and read in the C locale, whatever the process's locale: this
// switches the calling thread to it for the scope.
class CLocaleScope {
public:
    CLocaleScope();
    ~CLocaleScope();
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t previous;
};

}  // namespace vision
