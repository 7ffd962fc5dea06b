#include "tools/train_cascade/FrameCodes.h"

#include <dirent.h>

#include <algorithm>
#include <cmath>

#include "visionlib/Image.h"
#include "visionlib/Message.h"

namespace cascade_training {

std::vector<std::string> listPgm(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".pgm") == 0) names.push_back(dir + "/" + n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool loadPgm(const std::string& path, GrayFrame* frame) {
    vision::ImageGray image;
    if (!image.tryLoad(path.c_str())) return false;
    frame->width = image.width;
    frame->height = image.height;
    frame->pixels.assign(image.byte_pixels, image.byte_pixels + image.n_pixels);
    return true;
}

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

FrameCodes::FrameCodes(const GrayFrame& frame) : width_(frame.width), height_(frame.height) {
    normalised_ = new vision::Sequence(1, width_ * height_);
    // The tracker's scaling: gray x (1/255) in single precision.
    const vision::real inv = 1.0f / 255.0f;
    for (int i = 0; i < width_ * height_; ++i) normalised_->frames[0][i] = (vision::real)frame.pixels[i] * inv;
    integral_ = new vision::ipIntegralImage(width_, height_, "gray", true);
    integral_->process(normalised_);
    masks_.resize(kLocations);
    for (int l = 0; l < kLocations; ++l) {
        masks_[l] = new vision::ipMCT(19, 19, l % 17, l / 17, 3);
        masks_[l]->setImageSize(width_, height_);
    }
}

FrameCodes::~FrameCodes() {
    for (vision::ipMCT* m : masks_) delete m;
    delete integral_;
    delete normalised_;
}

void FrameCodes::codes(int x, int y, int size, uint16_t* out) {
    for (int l = 0; l < kLocations; ++l) {
        vision::ipMCT* m = masks_[l];
        m->setSize(size);
        m->setXY(x, y);
        m->process(integral_->output);
        out[l] = static_cast<uint16_t>(m->code());
    }
}

}  // namespace cascade_training
