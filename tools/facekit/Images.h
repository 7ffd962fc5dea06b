#pragma once
// Gray pictures of the shared face data: 8-bit PGM through the vision library's reader, grey JPEG
// through libjpeg-turbo, and the folder listings the trainers and benchmarks walk.
#include <string>
#include <vector>

namespace facekit {

struct GrayFrame {
    int width = 0, height = 0;
    std::vector<unsigned char> pixels;  // rows from the top
    unsigned char at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// A PGM or JPEG file (told apart by its first bytes); false when it is missing or unreadable.
bool loadGray(const std::string& path, GrayFrame* frame);

// The files of dir whose names end in one of the extensions (".pgm", ".jpg"), as full paths in byte
// order of their names.
std::vector<std::string> listFiles(const std::string& dir, const std::vector<std::string>& extensions);
// The ".pgm" files of dir.
std::vector<std::string> listPgm(const std::string& dir);
// The ".pgm" and ".jpg" files of dir.
std::vector<std::string> listImages(const std::string& dir);
// The sub-folders of dir as full paths, in byte order of their names.
std::vector<std::string> subFolders(const std::string& dir);

GrayFrame mirrored(const GrayFrame& frame);
// Bilinear sample at (x, y), clamped to the frame, rounded to a byte.
unsigned char bilinear(const GrayFrame& frame, float x, float y);

// The frame scaled by factor (bilinear; meant for enlarging).
GrayFrame resized(const GrayFrame& frame, float factor);

}  // namespace facekit
