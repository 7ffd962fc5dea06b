#include "visionlib/filter/FaceInfo.h"

#include <cfloat>
#include <cstring>

#include "visionlib/Message.h"

namespace vision {

FaceInfo::FaceInfo() { reset(); }

FaceInfo::~FaceInfo() {}

void FaceInfo::reset() {
    id = -1;
    left_eye_x = left_eye_y = -1;
    right_eye_x = right_eye_y = -1;
    bbx_x = bbx_y = 0;
    bbx_width = bbx_height = 0;
    angle = 0;
    inplane = false;
    outplane = false;
    score = -FLT_MAX;
}

void FaceInfo::print() const {
    const char* kind = inplane ? "Inplane" : (outplane ? "Outplane" : "Undefined");
    vision::print("Face (%d) BBX=(%d;%d) %dx%d \t Eyes: (%d;%d) (%d;%d) %s angle: %g  score: %g\n", id, bbx_x,
                  bbx_y, bbx_width, bbx_height, left_eye_x, left_eye_y, right_eye_x, right_eye_y, kind,
                  (double)angle, (double)score);
}

void FaceInfo::copyFrom(const FaceInfo& other) {
    id = other.id;
    left_eye_x = other.left_eye_x;
    left_eye_y = other.left_eye_y;
    right_eye_x = other.right_eye_x;
    right_eye_y = other.right_eye_y;
    bbx_x = other.bbx_x;
    bbx_y = other.bbx_y;
    bbx_width = other.bbx_width;
    bbx_height = other.bbx_height;
    angle = other.angle;
    inplane = other.inplane;
    outplane = other.outplane;
    score = other.score;
}

void FaceInfo::computeEyesFromBbx() {
    // The factor is the single-precision 1/19; the two centre sums are rounded to single precision and
    // the rest is done in double, so the eyes land on the same pixels as in the stored face data.
    const double b = (double)bbx_width * (double)0.05263158f;
    const float u = (float)((double)bbx_x + 14.5 * b);
    const float v = (float)((double)bbx_y + 5.0 * b);
    left_eye_x = (int32_t)((double)u - 10.0 * b + 0.5);
    right_eye_x = (int32_t)((double)u + 0.5);
    left_eye_y = right_eye_y = (int32_t)((double)v + 0.5);
}

int getFaceInfoSampleSize(int n) { return 4 + FACE_INFO_RECORD_SIZE * n; }

namespace {

void put32(unsigned char* p, const void* value) { std::memcpy(p, value, 4); }
void get32(const unsigned char* p, void* value) { std::memcpy(value, p, 4); }

void packRecord(unsigned char* r, const FaceInfo& f) {
    put32(r + 0, &f.id);
    put32(r + 4, &f.left_eye_x);
    put32(r + 8, &f.left_eye_y);
    put32(r + 12, &f.right_eye_x);
    put32(r + 16, &f.right_eye_y);
    put32(r + 20, &f.bbx_x);
    put32(r + 24, &f.bbx_y);
    put32(r + 28, &f.bbx_width);
    put32(r + 32, &f.bbx_height);
    put32(r + 36, &f.angle);
    r[40] = f.inplane ? 1 : 0;
    r[41] = f.outplane ? 1 : 0;
    r[42] = 0;
    r[43] = 0;
    put32(r + 44, &f.score);
}

void unpackRecord(const unsigned char* r, FaceInfo& f) {
    get32(r + 0, &f.id);
    get32(r + 4, &f.left_eye_x);
    get32(r + 8, &f.left_eye_y);
    get32(r + 12, &f.right_eye_x);
    get32(r + 16, &f.right_eye_y);
    get32(r + 20, &f.bbx_x);
    get32(r + 24, &f.bbx_y);
    get32(r + 28, &f.bbx_width);
    get32(r + 32, &f.bbx_height);
    get32(r + 36, &f.angle);
    f.inplane = r[40] != 0;
    f.outplane = r[41] != 0;
    get32(r + 44, &f.score);
}

}  // namespace

unsigned packFaceInfo(unsigned count, FaceInfo* const* faces, void* buffer, size_t bufferSize) {
    if (buffer == nullptr || bufferSize < 4) return 0;
    const size_t room = (bufferSize - 4) / FACE_INFO_RECORD_SIZE;
    if (count > room) count = (unsigned)room;
    unsigned char* out = (unsigned char*)buffer;
    const int32_t n = (int32_t)count;
    put32(out, &n);
    for (unsigned i = 0; i < count; i++) packRecord(out + 4 + FACE_INFO_RECORD_SIZE * i, *faces[i]);
    return count;
}

bool unpackFaceInfo(const void* buffer, size_t length, unsigned* count, FaceInfo** faces) {
    *count = 0;
    if (buffer == nullptr || length < 4) return false;
    const unsigned char* in = (const unsigned char*)buffer;
    uint32_t n;
    get32(in, &n);
    if (n == 0) return true;
    if (n > (length - 4) / FACE_INFO_RECORD_SIZE) return false;
    FaceInfo* array = new FaceInfo[n];
    for (uint32_t i = 0; i < n; i++) unpackRecord(in + 4 + FACE_INFO_RECORD_SIZE * i, array[i]);
    *faces = array;
    *count = n;
    return true;
}

}  // namespace vision
