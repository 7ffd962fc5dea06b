#include "tools/facekit/Images.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "visionlib/Image.h"

namespace facekit {

namespace {

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf escape;
};

// libjpeg ends the process on a bad file by default; a damaged picture is skipped instead.
void jpegFailed(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->escape, 1); }
void jpegQuiet(j_common_ptr, int) {}

bool loadJpeg(FILE* file, GrayFrame* frame) {
    jpeg_decompress_struct info;
    JpegError err;
    info.err = jpeg_std_error(&err.manager);
    err.manager.error_exit = jpegFailed;
    err.manager.emit_message = jpegQuiet;
    if (setjmp(err.escape)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&info);
    GrayFrame f;
    f.width = static_cast<int>(info.output_width);
    f.height = static_cast<int>(info.output_height);
    f.pixels.resize(static_cast<size_t>(f.width) * f.height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &f.pixels[static_cast<size_t>(info.output_scanline) * f.width];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    *frame = std::move(f);
    return true;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<std::string> listEntries(const std::string& dir, bool folders, const std::vector<std::string>& extensions) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n[0] == '.') continue;
            const std::string path = dir + "/" + n;
            if (folders) {
                struct stat st;
                if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) names.push_back(path);
            } else if (std::any_of(extensions.begin(), extensions.end(), [&](const std::string& x) { return endsWith(n, x); })) {
                names.push_back(path);
            }
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

bool loadGray(const std::string& path, GrayFrame* frame) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    unsigned char magic[2] = {0, 0};
    const bool jpeg = std::fread(magic, 1, 2, file) == 2 && magic[0] == 0xFF && magic[1] == 0xD8;
    if (jpeg) {
        std::rewind(file);
        const bool ok = loadJpeg(file, frame);
        std::fclose(file);
        return ok;
    }
    std::fclose(file);
    vision::ImageGray image;
    if (!image.tryLoad(path.c_str())) return false;
    frame->width = image.width;
    frame->height = image.height;
    frame->pixels.assign(image.byte_pixels, image.byte_pixels + image.n_pixels);
    return true;
}

std::vector<std::string> listFiles(const std::string& dir, const std::vector<std::string>& extensions) {
    return listEntries(dir, false, extensions);
}

std::vector<std::string> listPgm(const std::string& dir) { return listFiles(dir, {".pgm"}); }

std::vector<std::string> listImages(const std::string& dir) { return listFiles(dir, {".pgm", ".jpg"}); }

std::vector<std::string> subFolders(const std::string& dir) { return listEntries(dir, true, {}); }

GrayFrame mirrored(const GrayFrame& frame) {
    GrayFrame out = frame;
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x)
            out.pixels[static_cast<size_t>(y) * frame.width + x] = frame.at(frame.width - 1 - x, y);
    return out;
}

unsigned char bilinear(const GrayFrame& f, float x, float y) {
    x = std::max(0.0f, std::min(f.width - 1.0f, x));
    y = std::max(0.0f, std::min(f.height - 1.0f, y));
    const int x0 = std::min(f.width - 2, static_cast<int>(x)), y0 = std::min(f.height - 2, static_cast<int>(y));
    const float ax = x - x0, ay = y - y0;
    const float v = (1 - ay) * ((1 - ax) * f.at(x0, y0) + ax * f.at(x0 + 1, y0)) +
                    ay * ((1 - ax) * f.at(x0, y0 + 1) + ax * f.at(x0 + 1, y0 + 1));
    return static_cast<unsigned char>(std::lround(v));
}

GrayFrame resized(const GrayFrame& f, float factor) {
    GrayFrame out;
    out.width = std::max(1, static_cast<int>(std::lround(f.width * factor)));
    out.height = std::max(1, static_cast<int>(std::lround(f.height * factor)));
    out.pixels.resize(static_cast<size_t>(out.width) * out.height);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            out.pixels[static_cast<size_t>(y) * out.width + x] =
                bilinear(f, (x + 0.5f) / factor - 0.5f, (y + 0.5f) / factor - 0.5f);
    return out;
}

}  // namespace facekit
