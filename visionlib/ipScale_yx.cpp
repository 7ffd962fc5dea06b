#include "visionlib/ipScale_yx.h"

#include <cstring>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

ipScale_yx::ipScale_yx(int width_, int height_, const char* coding_, int width_out_, int height_out_)
    : ipCore(coding_),
      width(width_),
      height(height_),
      width_out(width_out_),
      height_out(height_out_),
      buffer_size(0),
      buffer(nullptr) {
    output = new (allocator) Sequence(1, n_planes * width_out * height_out);
    makeBuffer();
}

ipScale_yx::~ipScale_yx() {}

void ipScale_yx::makeBuffer() {
    if (buffer) allocator->free(buffer);
    buffer_size = (width_out + 3 * width) * n_planes;
    buffer = (real*)allocator->alloc(sizeof(real) * (long)buffer_size);
    if (buffer) memset(buffer, 0, sizeof(real) * (size_t)buffer_size);
}

int ipScale_yx::getOutputWidth() { return width_out; }

int ipScale_yx::getOutputHeight() { return height_out; }

void ipScale_yx::setOutputSize(int w, int h) {
    width_out = w;
    height_out = h;
    allocator->free(output);
    output = new (allocator) Sequence(1, n_planes * width_out * height_out);
    makeBuffer();
}

void ipScale_yx::setInputSize(int w, int h) {
    width = w;
    height = h;
    makeBuffer();
}

void ipScale_yx::process(Sequence* input) {
    if (coding_id == CODING_YUV || coding_id == CODING_FLOAT) {
        message("ipScale_yx::process() not implemented for YUV and float format");
        return;
    }
    if (width < 1 || height < 1 || width_out < 1 || height_out < 1) return;
    for (int c = 0; c < n_planes; c++) scalePlane(input->frames[0], output->frames[0], c);
}

void ipScale_yx::scalePlane(const real* src, real* dst, int plane) {
    const int np = n_planes;
    real* row = buffer;              // current input row
    real* acc = buffer + 2 * width;  // vertical accumulator
    real* hrow = buffer + 3 * width; // horizontally scaled row
    real* vrow = buffer + width;     // vertically scaled row
    const real sx = (real)width_out / (real)width;
    const real sy = (real)height_out / (real)height;

    int rows_read = 0;
    auto readRow = [&]() {
        const real* s = src + (long)rows_read * width * np + plane;
        for (int i = 0; i < width; i++) row[i] = s[(long)i * np];
        rows_read++;
    };

    real left = sy;
    bool need_row = true;
    for (int i = 0; i < width; i++) acc[i] = 0;

    for (int yo = 0; yo < height_out; yo++) {
        const real* scaled;
        if (height_out == height) {
            if (rows_read < height) readRow();
            scaled = row;
        } else {
            real to_fill = 1;
            while (left < to_fill) {
                if (need_row && rows_read < height) readRow();
                for (int i = 0; i < width; i++) acc[i] += left * row[i];
                to_fill -= left;
                left = sy;
                need_row = true;
            }
            if (need_row && rows_read < height) {
                readRow();
                need_row = false;
            }
            for (int i = 0; i < width; i++) {
                real v = acc[i] + to_fill * row[i];
                vrow[i] = v > 255 ? 255 : v;
                acc[i] = 0;
            }
            left -= to_fill;
            if (left <= 0) {
                left = sy;
                need_row = true;
            }
            scaled = vrow;
        }

        real* out = dst + (long)yo * width_out * np + plane;
        if (width_out == width) {
            for (int i = 0; i < width; i++) out[(long)i * np] = scaled[i];
            continue;
        }
        real sum = 0, to_fill = 1;
        bool need_col = false;
        int wp = 0;
        for (int xi = 0; xi < width; xi++) {
            const real v = scaled[xi];
            real lft = sx;
            while (lft >= to_fill) {
                if (need_col) {
                    wp++;
                    sum = 0;
                }
                sum += to_fill * v;
                if (wp < width_out) hrow[wp] = sum > 255 ? 255 : sum;
                need_col = true;
                lft -= to_fill;
                to_fill = 1;
            }
            if (lft > 0) {
                if (need_col) {
                    need_col = false;
                    sum = 0;
                    wp++;
                }
                sum += lft * v;
                to_fill -= lft;
            }
        }
        if (to_fill > 0) sum += to_fill * scaled[width - 1];
        if (!need_col && wp < width_out) hrow[wp] = sum > 255 ? 255 : sum;
        for (int i = 0; i < width_out; i++) out[(long)i * np] = hrow[i];
    }
}

}  // namespace vision
