#include "platform/capture/FrameImage.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>

#include "platform/regular_file.h"

namespace tarvelo::capture {

using tarvelo_platform::RegularFile;

namespace {

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

// Skips blanks and '#' comments between the header fields.
bool skipSpace(const std::vector<uint8_t>& buf, size_t& pos) {
    while (pos < buf.size()) {
        uint8_t c = buf[pos];
        if (c == '#') {
            while (pos < buf.size() && buf[pos] != '\n' && buf[pos] != '\r') ++pos;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
            ++pos;
        } else {
            return true;
        }
    }
    return false;
}

bool readNumber(const std::vector<uint8_t>& buf, size_t& pos, long& value) {
    if (!skipSpace(buf, pos)) return false;
    if (buf[pos] < '0' || buf[pos] > '9') return false;
    value = 0;
    while (pos < buf.size() && buf[pos] >= '0' && buf[pos] <= '9') {
        value = value * 10 + (buf[pos] - '0');
        if (value > 1000000) return false;
        ++pos;
    }
    return true;
}

inline uint8_t clampByte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// A frame's header must end within its first bytes: so many are read to find it.
constexpr size_t kFrameHeaderBytes = 4096;

}  // namespace

bool readNetpbm(const std::string& path, FrameImage& out, std::string* error) {
    const RegularFile file(path);
    std::vector<uint8_t> buf;
    if (!file.isOpen() || !file.read(std::min(file.size, kFrameHeaderBytes), buf)) {
        setError(error, "cannot open " + path);
        return false;
    }
    if (buf.size() < 2 || buf[0] != 'P' || (buf[1] != '5' && buf[1] != '6')) {
        setError(error, path + ": not a binary PGM or PPM file");
        return false;
    }
    const int planes = buf[1] == '5' ? 1 : 3;
    size_t pos = 2;
    long width = 0, height = 0, maxval = 0;
    const bool header = readNumber(buf, pos, width) && readNumber(buf, pos, height) && readNumber(buf, pos, maxval) &&
                        pos < buf.size();
    if (!header && file.size > kFrameHeaderBytes) {
        setError(error, path + ": no frame header in its first " + std::to_string(kFrameHeaderBytes) + " bytes");
        return false;
    }
    if (!header || width <= 0 || height <= 0 || width > kMaxFrameSide || height > kMaxFrameSide || maxval <= 0 ||
        maxval > 65535) {
        setError(error, path + ": bad header");
        return false;
    }
    ++pos;  // the single blank after maxval
    const size_t bytesPerSample = maxval > 255 ? 2 : 1;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height) * planes;
    const size_t whole = pos + count * bytesPerSample;
    if (file.size > whole + kMaxReplayFrameTail) {
        setError(error, path + ": more than " + std::to_string(kMaxReplayFrameTail) +
                            " bytes beyond the header and pixels of the frame");
        return false;
    }
    if (file.size < whole || !file.read(whole, buf) || buf.size() < whole) {
        setError(error, path + ": truncated pixel data");
        return false;
    }
    out.resize(static_cast<int>(width), static_cast<int>(height));
    const uint8_t* p = buf.data() + pos;
    auto sample = [&](size_t i) -> uint8_t {
        unsigned v = bytesPerSample == 2 ? (static_cast<unsigned>(p[2 * i]) << 8) | p[2 * i + 1] : p[i];
        return static_cast<uint8_t>((v * 255u + static_cast<unsigned>(maxval) / 2) / static_cast<unsigned>(maxval));
    };
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (size_t i = 0; i < pixels; ++i) {
        uint8_t* d = &out.bgr[i * 3];
        if (planes == 1) {
            d[0] = d[1] = d[2] = sample(i);
        } else {
            d[2] = sample(i * 3);
            d[1] = sample(i * 3 + 1);
            d[0] = sample(i * 3 + 2);
        }
    }
    return true;
}

void yuyvToBgr(const uint8_t* src, int width, int height, size_t srcStride, FrameImage& out) {
    out.resize(width, height);
    for (int y = 0; y < height; ++y) {
        const uint8_t* s = src + static_cast<size_t>(y) * srcStride;
        uint8_t* d = &out.bgr[static_cast<size_t>(y) * width * 3];
        for (int x = 0; x < width; x += 2) {
            const int u = s[1] - 128, v = s[3] - 128;
            const int rv = 409 * v, guv = -100 * u - 208 * v, bu = 516 * u;
            for (int k = 0; k < 2 && x + k < width; ++k) {
                const int c = 298 * (s[k * 2] - 16) + 128;
                d[0] = clampByte((c + bu) >> 8);
                d[1] = clampByte((c + guv) >> 8);
                d[2] = clampByte((c + rv) >> 8);
                d += 3;
            }
            s += 4;
        }
    }
}

namespace {

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegErrorExit(j_common_ptr cinfo) {
    JpegError* err = reinterpret_cast<JpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

void jpegSilent(j_common_ptr, int) {}

}  // namespace

namespace {

// Reads the header and, unless out is null, decodes a frame of exactly width x height.
bool decodeJpeg(const uint8_t* data, size_t size, int& width, int& height, FrameImage* out, std::string* error) {
    if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8) {
        setError(error, "not a JPEG frame");
        return false;
    }
    jpeg_decompress_struct cinfo;
    JpegError err;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpegErrorExit;
    err.mgr.emit_message = jpegSilent;
    err.message[0] = 0;
    // Nothing with a destructor may live between setjmp and the decoding calls.
    if (setjmp(err.jump)) {
        setError(error, std::string("damaged JPEG frame: ") + err.message);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    if (!out) {
        width = static_cast<int>(cinfo.image_width);
        height = static_cast<int>(cinfo.image_height);
        jpeg_destroy_decompress(&cinfo);
        return true;
    }
    if (cinfo.image_width != static_cast<JDIMENSION>(width) || cinfo.image_height != static_cast<JDIMENSION>(height)) {
        setError(error, "the frame declares " + std::to_string(cinfo.image_width) + "x" +
                            std::to_string(cinfo.image_height) + ", the stream is " + std::to_string(width) + "x" +
                            std::to_string(height));
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    if (cinfo.progressive_mode) {
        setError(error, "progressive JPEG frame");
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3 || cinfo.output_width != static_cast<JDIMENSION>(width) ||
        cinfo.output_height != static_cast<JDIMENSION>(height)) {
        setError(error, "unexpected JPEG layout");
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    try {
        out->resize(width, height);
    } catch (...) {
        jpeg_destroy_decompress(&cinfo);  // the caller's streaming guard takes the throw
        throw;
    }
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &out->bgr[static_cast<size_t>(cinfo.output_scanline) * rowBytes];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace

bool jpegDeclaredSize(const uint8_t* data, size_t size, int& width, int& height, std::string* error) {
    return decodeJpeg(data, size, width, height, nullptr, error);
}

bool mjpegToBgr(const uint8_t* data, size_t size, int width, int height, FrameImage& out, std::string* error) {
    if (width <= 0 || height <= 0 || width > kMaxFrameSide || height > kMaxFrameSide) {
        setError(error, "cannot decode to " + std::to_string(width) + "x" + std::to_string(height) + " (1 to " +
                            std::to_string(kMaxFrameSide) + " a side)");
        return false;
    }
    return decodeJpeg(data, size, width, height, &out, error);
}

bool readJpegFrame(const std::string& path, int& width, int& height, FrameImage& out, std::string* error) {
    constexpr size_t kMostBytes = 16 << 20;
    const RegularFile file(path);
    std::vector<uint8_t> buf;
    if (!file.isOpen() || file.size > kMostBytes || !file.read(file.size, buf)) {
        setError(error, "cannot read " + path + " (a JPEG frame file is a regular file of at most 16 MiB)");
        return false;
    }
    int w = width, h = height;
    if (w == 0 && h == 0 && !jpegDeclaredSize(buf.data(), buf.size(), w, h, error)) return false;
    if (!mjpegToBgr(buf.data(), buf.size(), w, h, out, error)) return false;
    width = w;
    height = h;
    return true;
}

void writeBitmap(const FrameImage& src, uint8_t* dst, int dstWidth, int dstHeight, int bitCount,
                 bool topDown) {
    const size_t stride = bitmapStride(dstWidth, bitCount);
    const int bpp = bitCount / 8;
    std::vector<int> xmap(static_cast<size_t>(dstWidth));
    for (int x = 0; x < dstWidth; ++x)
        xmap[x] = src.width == dstWidth ? x : static_cast<int>(static_cast<long long>(x) * src.width / dstWidth);
    for (int y = 0; y < dstHeight; ++y) {
        const int sy = src.height == dstHeight ? y : static_cast<int>(static_cast<long long>(y) * src.height / dstHeight);
        const uint8_t* s = &src.bgr[static_cast<size_t>(sy) * src.width * 3];
        uint8_t* d = dst + static_cast<size_t>(topDown ? y : dstHeight - 1 - y) * stride;
        if (bpp == 3 && src.width == dstWidth) {
            std::memcpy(d, s, static_cast<size_t>(dstWidth) * 3);
        } else {
            for (int x = 0; x < dstWidth; ++x) {
                const uint8_t* p = s + static_cast<size_t>(xmap[x]) * 3;
                d[0] = p[0];
                d[1] = p[1];
                d[2] = p[2];
                if (bpp == 4) d[3] = 0;
                d += bpp;
            }
        }
        const size_t used = static_cast<size_t>(dstWidth) * bpp;
        if (stride > used) std::memset(dst + static_cast<size_t>(topDown ? y : dstHeight - 1 - y) * stride + used, 0, stride - used);
    }
}

}  // namespace tarvelo::capture
