#pragma once
// A pixel value with its coding; passed by value. Also the X11 colour-name table.
#include "visionlib/Coding.h"

namespace vision {

struct Color {
    // red, green, blue for "rgb"; Y, U, V for "yuv"; the gray value three times for "gray".
    unsigned char data0, data1, data2;
    const char* coding;

    Color();                     // "rgb" black
    Color(int r, int g, int b);  // "rgb", each as its low byte
    explicit Color(unsigned char value);  // "gray"
    // "rgb" from the colour-name table (exact, case-sensitive); black when the name is unknown.
    explicit Color(const char* name);
    static Color fromYuv(unsigned char y, unsigned char u, unsigned char v);

    static const Color black;
    static const Color white;
    static const Color green;
    static const Color red;
    static const Color blue;
};

struct ColorName {
    int red, green, blue;
    const char* name;
};

extern const ColorName color_names[];
extern const int n_color_names;

}  // namespace vision
