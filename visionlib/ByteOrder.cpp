#include "visionlib/ByteOrder.h"

#include <algorithm>
#include <cstdint>

namespace vision {

namespace {
bool native_byte_order = true;
}

bool byteOrderIsNative() { return native_byte_order; }
void useNativeByteOrder() { native_byte_order = true; }
void useLittleEndianFiles() { native_byte_order = true; }
void useBigEndianFiles() { native_byte_order = false; }
bool hostIsLittleEndian() { return true; }
bool hostIsBigEndian() { return false; }

void reverseBytes(void* data, int element_size, int count) {
    if (element_size <= 1) return;
    uint8_t* p = static_cast<uint8_t*>(data);
    for (int i = 0; i < count; i++, p += element_size) std::reverse(p, p + element_size);
}

}  // namespace vision
