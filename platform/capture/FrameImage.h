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

// The most bytes a frame file may hold beyond its header and the pixels the header declares (the
// frames of the shipped clips hold none): the replay camera reads a frame file at each frame.
constexpr size_t kMaxReplayFrameTail = 4096;

// Reads a binary PGM ("P5") or PPM ("P6") file with a maxval up to 65535 (16-bit samples keep
// their high byte after scaling to 0..255). Gray frames are spread to the three channels. Only a
// regular file with its header in its first 4,096 bytes and a tail within kMaxReplayFrameTail is
// read; the reason for a refusal goes to error.
TARVELO_PLATFORM_API bool readNetpbm(const std::string& path, FrameImage& out, std::string* error = nullptr);

// Reads a JPEG frame file as a webcam's MJPEG frame (mjpegToBgr) of width x height; when both are
// 0, of the size its header declares, at most kMaxFrameSide a side, which is stored in them.
// Files over 16 MiB are refused unread.
TARVELO_PLATFORM_API bool readJpegFrame(const std::string& path, int& width, int& height, FrameImage& out,
                                        std::string* error = nullptr);

// YUYV 4:2:2 (Y0 U Y1 V, BT.601 video range) to B,G,R.
TARVELO_PLATFORM_API void yuyvToBgr(const uint8_t* src, int width, int height, size_t srcStride, FrameImage& out);

// The largest width or height of a frame the capture code decodes or offers.
constexpr int kMaxFrameSide = 16384;

// The size a JPEG frame declares, read from its header alone (nothing of the picture's size is
// allocated). False, with a reason, when the header cannot be read.
TARVELO_PLATFORM_API bool jpegDeclaredSize(const uint8_t* data, size_t size, int& width, int& height,
                                           std::string* error = nullptr);

// Decodes one MJPEG frame of the stream's size, width x height (a baseline JPEG, with or without
// its Huffman tables: webcams often leave them out and rely on the standard ones), to B,G,R.
// False, with a reason, on a damaged frame, on one that declares another size (refused from its
// header, before anything of that size is allocated) and on a progressive one (no webcam sends
// them, and their scans make the decoding time unbounded).
TARVELO_PLATFORM_API bool mjpegToBgr(const uint8_t* data, size_t size, int width, int height, FrameImage& out,
                                     std::string* error = nullptr);

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
