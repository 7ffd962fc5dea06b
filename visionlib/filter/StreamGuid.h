#pragma once
// Identifier of a stream's media and format types; the layout of a COM GUID.
#include <cstdint>
#include <cstring>

namespace vision {

struct StreamGuid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

inline bool operator==(const StreamGuid& a, const StreamGuid& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
inline bool operator!=(const StreamGuid& a, const StreamGuid& b) { return !(a == b); }

}  // namespace vision
