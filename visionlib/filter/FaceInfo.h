#pragma once
// One detected face of one video frame, and its 48-byte wire record in the face information stream.
#include <cstddef>
#include <cstdint>

#include "platform/windows_types.h"
#include "visionlib/Object.h"

namespace vision {

class FaceInfo : public Object {
public:
    int32_t id;
    int32_t left_eye_x, left_eye_y;
    int32_t right_eye_x, right_eye_y;
    int32_t bbx_x, bbx_y;
    int32_t bbx_width, bbx_height;
    real angle;
    bool inplane;
    bool outplane;
    real score;

    FaceInfo();
    ~FaceInfo() override;

    virtual void reset();
    virtual void print() const;
    virtual void copyFrom(const FaceInfo& other);
    // Box and score from a detection; the eyes follow from the box. Works with any record that has
    // the detector's fields (x, y, w, h, confidence), so this layer needs no detector code.
    template <class PatternT>
    void setFromPattern(const PatternT& pattern) {
        score = pattern.confidence;
        bbx_x = pattern.x;
        bbx_y = pattern.y;
        bbx_width = pattern.w;
        bbx_height = pattern.h;
        computeEyesFromBbx();
    }
    virtual void computeEyesFromBbx();
};

// Wire layout of one record.
constexpr int FACE_INFO_RECORD_SIZE = 48;
// A face information sample holds at most this many records (196-byte buffers).
constexpr int FACE_INFO_MAX_FACES = 4;
// Every face information sample has this size, whatever its count.
constexpr int FACE_INFO_SAMPLE_SIZE = 4 + FACE_INFO_RECORD_SIZE * FACE_INFO_MAX_FACES;

// Bytes of a sample holding n records: 4 + 48 n.
int getFaceInfoSampleSize(int n);

// Writes the count and the records of faces[0..count-1] into buffer, which holds bufferSize bytes.
// Records that do not fit are not written, and the count written says how many were; returns it.
unsigned packFaceInfo(unsigned count, FaceInfo* const* faces, void* buffer, size_t bufferSize);

// Reads a sample of length bytes. A count of 0 leaves *faces untouched and returns true. Otherwise
// allocates count objects with new[] (the caller frees them with delete[]) and fills them. A count
// whose records do not fit in length bytes is refused: false, *count 0, *faces untouched.
bool unpackFaceInfo(const void* buffer, size_t length, unsigned* count, FaceInfo** faces);

}  // namespace vision

// Media type of the face information stream: major type and format type (no subtype, no format block).
DEFINE_GUID(MEDIATYPE_FaceInfo, 0x38792C67, 0x6DBA, 0x49EA, 0xB7, 0xA9, 0xC2, 0x12, 0x6D, 0x38, 0x45, 0x76);
DEFINE_GUID(FORMAT_FaceInfo, 0x15309553, 0xDC22, 0x4A0A, 0x83, 0x9E, 0xB7, 0x95, 0x3D, 0xE9, 0x53, 0x48);
