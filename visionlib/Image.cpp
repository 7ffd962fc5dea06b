#include "visionlib/Image.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "visionlib/Allocator.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Message.h"
#include "visionlib/XFile.h"

namespace vision {

namespace {

// Gray = (77 R + 150 G + 29 B) >> 8.
inline int grayOfRgb(int r, int g, int b) { return (77 * r + 150 * g + 29 * b) >> 8; }

// Truncated toward zero and kept inside the 256-entry tables; NaN gives 0.
inline int tableIndex(real v) {
    if (!(v > 0)) return 0;
    if (v >= 255) return 255;
    return (int)v;
}

// Truncation toward zero that saturates instead of overflowing.
inline int truncToInt(real v) {
    if (!(v == v)) return 0;
    if (v >= 2147483520.0f) return 2147483520;
    if (v <= -2147483520.0f) return -2147483520;
    return (int)v;
}

}  // namespace

// ---------------------------------------------------------------- Image

Image::Image()
    : Sequence(),
      real_pixels(nullptr),
      byte_pixels(nullptr),
      width(0),
      height(0),
      n_pixels(0),
      pixel_capacity(0),
      n_planes(0),
      coding(nullptr),
      verbose(false) {
    addBoolOption("verbose", &verbose, false, "verbose");
}

Image::Image(int width_, int height_, int n_planes_) : Image() {
    n_planes = n_planes_;
    resizePixels(width_, height_);
    if (real_pixels) memset(real_pixels, 0, sizeof(real) * (size_t)n_pixels * n_planes);
    if (byte_pixels) memset(byte_pixels, 0, (size_t)n_pixels * n_planes);
}

Image::~Image() {}

void Image::resizePixels(int width_, int height_) {
    width = width_;
    height = height_;
    n_pixels = width * height;
    frame_size = n_pixels * n_planes;
    allocatePixels();
}

void Image::allocatePixels() {
    const long n = (long)n_pixels * n_planes;
    if (n <= 0) return;
    if (byte_pixels == nullptr) {
        byte_pixels = (unsigned char*)allocator->alloc(n);
        real* block = (real*)allocator->alloc(n * (long)sizeof(real));
        frames = (real**)allocator->alloc(sizeof(real*));
        frames[0] = block;
        n_frames = n_allocated_frames = 1;
        pixel_capacity = n_pixels;
    } else if (n_pixels > pixel_capacity) {
        byte_pixels = (unsigned char*)allocator->realloc(byte_pixels, n);
        frames[0] = (real*)allocator->realloc(frames[0], n * (long)sizeof(real));
        pixel_capacity = n_pixels;
    }
    frame_size = (int)n;
    real_pixels = frames[0];
}

void Image::updateReals() {
    const int n = n_pixels * n_planes;
    for (int i = 0; i < n; i++) real_pixels[i] = (real)byte_pixels[i];
}

void Image::updateBytes() {
    const int n = n_pixels * n_planes;
    for (int i = 0; i < n; i++) {
        real v = real_pixels[i];
        if (!(v > 0)) v = 0;
        if (v > 255) v = 255;
        byte_pixels[i] = (unsigned char)(int)(v + 0.5f);
    }
}

bool Image::saveImageXFile(ImageFile* file) {
    if (file->n_planes != n_planes) error("Image::saveImageXFile() incompatible n_planes");
    file->writeHeader(width, height);
    file->writePixmap(byte_pixels, n_pixels);
    return true;
}

bool Image::loadImageXFile(ImageFile* file) {
    int w = 0, h = 0;
    if (!file->readHeader(&w, &h)) return false;
    if (w < 1 || h < 1 || (long)w * h > kMaxImagePixels) return false;
    resizePixels(w, h);
    if (!file->readPixmap(n_pixels) || file->pixmap == nullptr) return false;
    copyFrom(w, h, file->pixmap, file->coding);
    updateReals();
    return true;
}

void Image::drawLine(int x1, int y1, int x2, int y2, Color colour) {
    const long dx = (long)x2 - x1;
    const long dy = (long)y2 - y1;
    const bool x_major = std::labs(dy) <= std::labs(dx);
    const long major_diff = x_major ? dx : dy;
    const long minor_diff = x_major ? dy : dx;
    const long steps = std::labs(major_diff);
    // 16.16 fixed point; the minor coordinate starts at the centre of its first pixel.
    const long long slope = steps == 0 ? 0 : ((long long)minor_diff * 65536) / steps;
    const long major_step = major_diff < 0 ? -1 : 1;
    const long long minor0 = (long long)(x_major ? y1 : x1) * 65536 + 32768;
    const long major0 = x_major ? x1 : y1;
    // Only the steps whose major coordinate lies inside the image can draw anything.
    const long extent = x_major ? width : height;
    long k0 = 0, k1 = steps;
    if (major_step > 0) {
        k0 = std::max(k0, -major0);
        k1 = std::min(k1, extent - 1 - major0);
    } else {
        k0 = std::max(k0, major0 - (extent - 1));
        k1 = std::min(k1, major0);
    }
    for (long k = k0; k <= k1; k++) {
        const long major = major0 + k * major_step;
        const long m = (long)((minor0 + k * slope) >> 16);
        if (m < 0 || m >= (x_major ? height : width)) continue;
        if (x_major)
            drawPixel((int)major, (int)m, colour);
        else
            drawPixel((int)m, (int)major, colour);
    }
}

void Image::drawLine(real x1, real y1, real x2, real y2, Color colour) {
    drawLine(truncToInt(x1), truncToInt(y1), truncToInt(x2), truncToInt(y2), colour);
}

// ---------------------------------------------------------------- ImageGray

ImageGray::ImageGray() : Image() {
    n_planes = 1;
    coding = coding_gray;
}

ImageGray::ImageGray(int width_, int height_) : Image(width_, height_, 1) { coding = coding_gray; }

ImageGray::ImageGray(const char* path) : ImageGray() { load(path); }

ImageGray::~ImageGray() {}

void ImageGray::saveXFile(XFile* file) {
    file->printf("P5\n");
    file->printf("#\n");
    file->printf("# Image generated using Kestrav vision\n");
    file->printf("# 8-bit gray image\n");
    file->printf("# Strelmont Research Institute\n");
    file->printf("#\n");
    file->printf("%d %d\n", width, height);
    file->printf("255\n");
    if (n_pixels > 0) file->write(byte_pixels, 1, n_pixels);
}

void ImageGray::loadXFile(XFile* file) {
    std::string why;
    if (!readPgm(file, &why)) error("%s", why.c_str());
}

namespace {

// One non-negative decimal number at *p, skipping blanks before it; false when there is none or
// it does not fit an int.
bool scanInt(const char*& p, long* out) {
    while (*p == ' ' || *p == '\t') p++;
    if (*p == '+' || *p == '-' || (*p >= '0' && *p <= '9')) {
        char* end = nullptr;
        errno = 0;
        long v = strtol(p, &end, 10);
        if (end == p || errno == ERANGE || v > 2147483647L || v < -2147483647L) return false;
        p = end;
        *out = v;
        return true;
    }
    return false;
}

}  // namespace

bool ImageGray::readPgm(XFile* file, std::string* why) {
    auto fail = [why](const char* text) {
        if (why) *why = text;
        return false;
    };
    const char* kUnreadable = "ImageGray::loadXFile() not enable to read pgm file\n";
    char line[200];

    if (file->gets(line, sizeof(line)) == nullptr) return fail(kUnreadable);
    if (strcmp(line, "P5\n") != 0) return fail("ImageGray::loadXFile() incorrect magic number\n");

    do {
        if (file->gets(line, sizeof(line)) == nullptr) return fail(kUnreadable);
    } while (line[0] == '#' || line[0] == '\n');

    // Both numbers must stand on the size line.
    const char* p = line;
    long w = 0, h = 0;
    if (!scanInt(p, &w) || w < 1) return fail("ImageGray::loadXFile() incorrect width in pgm file\n");
    if (!scanInt(p, &h) || h < 1) return fail("ImageGray::loadXFile() incorrect height in pgm file\n");
    if (w * h > kMaxImagePixels) return fail("ImageGray::loadXFile() image too large in pgm file\n");

    if (file->gets(line, sizeof(line)) == nullptr) return fail(kUnreadable);
    if (strcmp(line, "255\n") != 0)
        return fail("ImageGray::loadXFile() incorrect resolution, only 255 is supported\n");

    // Read into a scratch block first so that a short file leaves the image as it was.
    const int expected = (int)(w * h);
    std::vector<unsigned char> pixels((size_t)expected);
    const int got = file->read(pixels.data(), 1, expected);
    if (got != expected) {
        if (why) {
            char text[160];
            snprintf(text, sizeof(text),
                     "ImageGray::loadXFile() impossible to read the image (%d bytes read != %d bytes "
                     "expected)\n",
                     got < 0 ? 0 : got, expected);
            *why = text;
        }
        return false;
    }
    resizePixels((int)w, (int)h);
    memcpy(byte_pixels, pixels.data(), (size_t)expected);
    updateReals();
    return true;
}

bool ImageGray::tryLoad(const char* path, std::string* why) {
    DiskXFile* file = DiskXFile::tryOpen(path, "r");
    if (file == nullptr) {
        if (why) *why = std::string("ImageGray: cannot open ") + path;
        return false;
    }
    const bool ok = readPgm(file, why);
    delete file;
    return ok;
}

void ImageGray::copyFrom(const Image* source) {
    copyFrom(source->width, source->height, source->byte_pixels, source->coding);
}

bool ImageGray::copyFrom(int width_, int height_, const unsigned char* data, const char* coding_) {
    resizePixels(width_, height_);
    switch (codingId(coding_)) {
        case CODING_GRAY:
            if (verbose) message("ImageGray::copyFrom(uchar *) copy from gray");
            if (n_pixels > 0) memcpy(byte_pixels, data, (size_t)n_pixels);
            break;
        case CODING_RGB:
            if (verbose) message("ImageGray::copyFrom(uchar *) convert from rgb");
            for (int i = 0; i < n_pixels; i++)
                byte_pixels[i] =
                    (unsigned char)grayOfRgb(data[3 * i], data[3 * i + 1], data[3 * i + 2]);
            break;
        case CODING_YUV:
            if (verbose) message("ImageGray::copyFrom(uchar *) convert from yuv (not implemented yet !)");
            return false;
        default:
            return false;
    }
    updateReals();
    return true;
}

bool ImageGray::copyFrom(int width_, int height_, const real* data, const char* coding_, real max) {
    resizePixels(width_, height_);
    const real scale = (real)255 / max;
    switch (codingId(coding_)) {
        case CODING_GRAY:
            if (verbose) message("ImageGray::copyFrom(real *) copy from gray");
            [[fallthrough]];
        case CODING_FLOAT:
            for (int i = 0; i < n_pixels; i++) real_pixels[i] = scale * data[i];
            break;
        case CODING_RGB:
            if (verbose) message("ImageGray::copyFrom(real *) convert from rgb");
            for (int i = 0; i < n_pixels; i++)
                real_pixels[i] = (real)grayOfRgb(tableIndex(scale * data[3 * i]),
                                                 tableIndex(scale * data[3 * i + 1]),
                                                 tableIndex(scale * data[3 * i + 2]));
            break;
        case CODING_YUV:
            if (verbose) message("ImageGray::copyFrom(real *) convert from yuv (not implemented yet !)");
            return false;
        default:
            return false;
    }
    updateBytes();
    return true;
}

void ImageGray::drawPixel(int x, int y, Color colour) {
    if (x < 0 || x >= width || y < 0 || y >= height) return;
    const int i = y * width + x;
    byte_pixels[i] = colour.data0;
    real_pixels[i] = (real)colour.data0;
}

}  // namespace vision
