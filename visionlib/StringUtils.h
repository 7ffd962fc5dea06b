#pragma once
// Small string helpers for file names and measurer output.

namespace vision {

// Pointer just after the last '/' of path, or path itself.
const char* pathBaseName(const char* path);
// New string (free it) holding text before its last c; the whole text when c is absent or only first.
char* cutAtLast(const char* text, char c);
// New string (free it): the n strings one after another.
char* concatStrings(int n, ...);

}  // namespace vision
