// A small PNG encoder for the editor tests' screenshots: 8-bit RGB, no filtering, the image data
// as zlib stored blocks. Big files, but no compressor needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tw::test {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t Adler32(const uint8_t* data, size_t size);

// pixels: width x height 32-bit words 0x00RRGGBB, top row first. Empty for an empty image.
std::vector<uint8_t> EncodePng(int width, int height, const std::vector<uint32_t>& pixels);

}  // namespace tw::test
