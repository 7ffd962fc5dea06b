#pragma once
// JPEG frames made by the tests with libjpeg, as a webcam's MJPEG stream would carry them, and the
// frame that once ended the program: a small picture whose header declares 65500x65500.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace testutil {

// Tightly packed B,G,R rows, top row first; baseline unless progressive.
inline std::vector<uint8_t> encodeJpeg(const uint8_t* bgr, int width, int height, int quality = 95,
                                       bool progressive = false) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&bgr[static_cast<size_t>(c.next_scanline) * width * 3]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> out(buf, buf + size);
    std::free(buf);
    jpeg_destroy_compress(&c);
    return out;
}

// The frame without its Huffman tables, as webcams send MJPEG frames.
inline std::vector<uint8_t> stripHuffmanTables(const std::vector<uint8_t>& jpeg) {
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    size_t pos = 2;
    while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA) {
        const size_t length = (static_cast<size_t>(jpeg[pos + 2]) << 8) | jpeg[pos + 3];
        if (jpeg[pos + 1] != 0xC4) out.insert(out.end(), jpeg.begin() + pos, jpeg.begin() + pos + 2 + length);
        pos += 2 + length;
    }
    out.insert(out.end(), jpeg.begin() + pos, jpeg.end());
    return out;
}

// Rewrites the size in the frame's header (its SOF marker), leaving the picture data as it was.
// False when the frame has no SOF marker.
inline bool declareJpegSize(std::vector<uint8_t>& jpeg, int width, int height) {
    size_t pos = 2;
    while (pos + 9 < jpeg.size() && jpeg[pos] == 0xFF) {
        const uint8_t marker = jpeg[pos + 1];
        const size_t length = (static_cast<size_t>(jpeg[pos + 2]) << 8) | jpeg[pos + 3];
        if (marker >= 0xC0 && marker <= 0xC2) {
            jpeg[pos + 5] = static_cast<uint8_t>(height >> 8);
            jpeg[pos + 6] = static_cast<uint8_t>(height);
            jpeg[pos + 7] = static_cast<uint8_t>(width >> 8);
            jpeg[pos + 8] = static_cast<uint8_t>(width);
            return true;
        }
        pos += 2 + length;
    }
    return false;
}

// A 16x16 grey frame of 629 bytes that declares 65500x65500, as the 662-byte frame found did:
// decoded as declared it needs 12.9 GB of B,G,R.
inline std::vector<uint8_t> hugeDeclaredJpegFrame() {
    std::vector<uint8_t> grey(16 * 16 * 3, 128);
    std::vector<uint8_t> jpeg = encodeJpeg(grey.data(), 16, 16, 75);
    declareJpegSize(jpeg, 65500, 65500);
    return jpeg;
}

}  // namespace testutil
