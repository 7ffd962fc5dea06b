#pragma once
// Module-wide byte order of disk files: native (little-endian) unless switched to big-endian.

namespace vision {

bool byteOrderIsNative();
void useNativeByteOrder();
void useLittleEndianFiles();
void useBigEndianFiles();
bool hostIsLittleEndian();
bool hostIsBigEndian();

// Reverses the bytes of each of count elements in place (nothing for 1-byte elements).
void reverseBytes(void* data, int element_size, int count);

}  // namespace vision
