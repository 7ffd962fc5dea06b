#include "visionlib/StringUtils.h"

#include <cstdarg>
#include <cstring>

#include "visionlib/Allocator.h"

namespace vision {

const char* pathBaseName(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

char* cutAtLast(const char* text, char c) {
    size_t len = strlen(text);
    const char* last = strrchr(text, c);
    if (c != '\0' && last && last != text) len = (size_t)(last - text);
    char* out = static_cast<char*>(checkedMalloc((long)len + 1));
    memcpy(out, text, len);
    out[len] = '\0';
    return out;
}

char* concatStrings(int n, ...) {
    va_list args;
    va_start(args, n);
    size_t total = 0;
    for (int i = 0; i < n; i++) total += strlen(va_arg(args, const char*));
    va_end(args);
    char* out = static_cast<char*>(checkedMalloc((long)total + 1));
    char* p = out;
    va_start(args, n);
    for (int i = 0; i < n; i++) {
        const char* s = va_arg(args, const char*);
        size_t len = strlen(s);
        memcpy(p, s, len);
        p += len;
    }
    va_end(args);
    *p = '\0';
    return out;
}

}  // namespace vision
