#pragma once
// Pixel codings shared by images and image operators: compared as exact strings.

namespace vision {

enum CodingId { CODING_GRAY = 0, CODING_RGB = 1, CODING_YUV = 2, CODING_FLOAT = 3 };

extern const char* const coding_gray;   // "gray", 1 plane
extern const char* const coding_rgb;    // "rgb", 3 planes
extern const char* const coding_yuv;    // "yuv", 3 planes
extern const char* const coding_float;  // "float", 1 plane

// Id of a coding string, or -1 when it is none of the four.
int codingId(const char* coding);
// The library's own string for an id (0..3).
const char* codingName(int id);
int codingPlanes(int id);

}  // namespace vision
