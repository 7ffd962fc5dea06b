#pragma once
// Frames as the capture sources produce them: tightly packed 8-bit B,G,R triplets, top row first.
// The output pins turn them into the bitmap layout of the negotiated media type.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/windows_types.h"

namespace tarvelo::capture {

struct FrameImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgr;  // width * height * 3 bytes

    void resize(int w, int h) {
        width = w;
        height = h;
        bgr.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
    }
    bool empty() const { return width <= 0 || height <= 0; }
};

// Reads a binary PGM ("P5") or PPM ("P6") file with a maxval up to 65535 (16-bit samples keep
// their high byte after scaling to 0..255). Gray frames are spread to the three channels.
TARVELO_PLATFORM_API bool readNetpbm(const std::string& path, FrameImage& out, std::string* error = nullptr);

// YUYV 4:2:2 (Y0 U Y1 V, BT.601 video range) to B,G,R.
TARVELO_PLATFORM_API void yuyvToBgr(const uint8_t* src, int width, int height, size_t srcStride, FrameImage& out);

// Decodes one MJPEG frame (a baseline JPEG, with or without its Huffman tables: webcams often
// leave them out and rely on the standard ones) to B,G,R. False on a damaged frame.
TARVELO_PLATFORM_API bool mjpegToBgr(const uint8_t* data, size_t size, FrameImage& out, std::string* error = nullptr);

// Bytes of one row of a bitmap: rows are padded to a multiple of 4 bytes.
inline size_t bitmapStride(int width, int bitCount) {
    return ((static_cast<size_t>(width) * static_cast<size_t>(bitCount) + 31) / 32) * 4;
}

// Writes src into a bitmap of dstWidth x dstHeight (24 or 32 bits per pixel, bottom row first
// unless topDown), scaling by nearest neighbour when the sizes differ. dst must hold
// bitmapStride(dstWidth, bitCount) * dstHeight bytes.
TARVELO_PLATFORM_API void writeBitmap(const FrameImage& src, uint8_t* dst, int dstWidth, int dstHeight, int bitCount,
                 bool topDown);

}  // namespace tarvelo::capture
