#pragma once
// Images are one-frame sequences holding their pixels twice: as reals (what operators read) and as
// bytes (what is drawn, saved and loaded). ImageGray is the 8-bit gray image read from and written
// to binary PGM ("P5") files.
#include <string>

#include "visionlib/Color.h"
#include "visionlib/Sequence.h"

namespace vision {

class XFile;

// What Image::saveImageXFile and Image::loadImageXFile talk to: a header and a pixel block in some
// image file format, with its own planes and coding.
class ImageFile : public Object {
public:
    int n_planes = 1;
    const char* coding = coding_gray;
    unsigned char* pixmap = nullptr;  // filled by readPixmap

    virtual bool readHeader(int* width, int* height) = 0;
    virtual void writeHeader(int width, int height) = 0;
    virtual bool readPixmap(int n_pixels) = 0;
    virtual void writePixmap(const unsigned char* pixels, int n_pixels) = 0;
};

class Image : public Sequence {
public:
    real* real_pixels;           // frame 0: width x height x n_planes, rows from the top, planes interleaved
    unsigned char* byte_pixels;  // the same pixels as bytes
    int width;
    int height;
    int n_pixels;        // width x height
    int pixel_capacity;  // pixels for which both buffers are allocated
    int n_planes;
    const char* coding;  // one of the four coding strings; none in a bare Image
    bool verbose;

    Image();
    // One zero-filled frame of width x height x n_planes; no coding.
    Image(int width, int height, int n_planes);
    ~Image() override;

    using Sequence::copyFrom;
    virtual void copyFrom(const Image* source) = 0;
    virtual bool copyFrom(int width, int height, const real* data, const char* coding, real max) = 0;
    virtual bool copyFrom(int width, int height, const unsigned char* data, const char* coding) = 0;
    // reals = bytes
    virtual void updateReals();
    // bytes = reals clamped to 0..255, +0.5, truncated (NaN gives 0)
    virtual void updateBytes();
    virtual bool saveImageXFile(ImageFile* file);
    virtual bool loadImageXFile(ImageFile* file);
    virtual void drawPixel(int x, int y, Color colour) = 0;

    // Both ends included; pixels outside the image are skipped.
    void drawLine(int x1, int y1, int x2, int y2, Color colour);
    void drawLine(real x1, real y1, real x2, real y2, Color colour);

    // Called after width, height, n_pixels and frame_size were set: grows both buffers when needed
    // (never shrinks) and points real_pixels at frame 0.
    void allocatePixels();

protected:
    // Sets the size fields for width x height and allocates.
    void resizePixels(int width, int height);
};

class ImageGray : public Image {
public:
    ImageGray();
    ImageGray(int width, int height);
    // Loads a PGM file; any fault ends the process (use tryLoad where that must not happen).
    explicit ImageGray(const char* path);
    ~ImageGray() override;

    void loadXFile(XFile* file) override;  // PGM reader, fatal on a bad file
    void saveXFile(XFile* file) override;  // PGM writer

    // The PGM reader without ending the process: false and the reason on a bad file; the image is
    // left as it was.
    bool readPgm(XFile* file, std::string* why = nullptr);
    // Opens and reads a PGM file; false (and the reason) when it cannot be opened or read.
    bool tryLoad(const char* path, std::string* why = nullptr);

    void copyFrom(const Image* source) override;
    // "gray" and "float" are scaled by 255 / max; "rgb" turns 3 reals per pixel into gray.
    // "yuv" and unknown codings return false.
    bool copyFrom(int width, int height, const real* data, const char* coding, real max) override;
    // "gray" copies, "rgb" turns 3 bytes per pixel into gray; "yuv" and unknown codings return false.
    bool copyFrom(int width, int height, const unsigned char* data, const char* coding) override;
    void drawPixel(int x, int y, Color colour) override;
};

// Largest width x height that a PGM header may announce.
constexpr long kMaxImagePixels = 1L << 26;

}  // namespace vision
