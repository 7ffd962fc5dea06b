#include "visionlib/Color.h"

#include <cstring>

#include "visionlib/Message.h"

namespace vision {

const char* const coding_gray = "gray";
const char* const coding_rgb = "rgb";
const char* const coding_yuv = "yuv";
const char* const coding_float = "float";

int codingId(const char* coding) {
    if (coding == nullptr) return -1;
    for (int id = 0; id < 4; id++)
        if (strcmp(coding, codingName(id)) == 0) return id;
    return -1;
}

const char* codingName(int id) {
    switch (id) {
        case CODING_GRAY: return coding_gray;
        case CODING_RGB: return coding_rgb;
        case CODING_YUV: return coding_yuv;
        case CODING_FLOAT: return coding_float;
        default: return nullptr;
    }
}

int codingPlanes(int id) { return id == CODING_RGB || id == CODING_YUV ? 3 : 1; }

Color::Color() : data0(0), data1(0), data2(0), coding(coding_rgb) {}

Color::Color(int r, int g, int b)
    : data0((unsigned char)r), data1((unsigned char)g), data2((unsigned char)b), coding(coding_rgb) {}

Color::Color(unsigned char value) : data0(value), data1(value), data2(value), coding(coding_gray) {}

Color::Color(const char* name) : Color() {
    print("Checking color for %s : ", name);
    for (int i = 0; i < n_color_names; i++) {
        if (strcmp(color_names[i].name, name) == 0) {
            print("(%d, %d, %d)\n", color_names[i].red, color_names[i].green, color_names[i].blue);
            data0 = (unsigned char)color_names[i].red;
            data1 = (unsigned char)color_names[i].green;
            data2 = (unsigned char)color_names[i].blue;
            return;
        }
    }
    print("Color %s not found. Black is set by default.", name);
}

Color Color::fromYuv(unsigned char y, unsigned char u, unsigned char v) {
    Color c;
    c.data0 = y;
    c.data1 = u;
    c.data2 = v;
    c.coding = coding_yuv;
    return c;
}

const Color Color::black(0, 0, 0);
const Color Color::white(255, 255, 255);
const Color Color::green(0, 255, 0);
const Color Color::red(255, 0, 0);
const Color Color::blue(0, 0, 255);

}  // namespace vision
