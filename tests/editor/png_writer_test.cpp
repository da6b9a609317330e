#include "tests/editor/png_writer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tw::test {
namespace {

uint32_t Read32(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

TEST(PngWriter, ChecksumsMatchTheirKnownValues) {
    const uint8_t iend[] = {'I', 'E', 'N', 'D'};
    EXPECT_EQ(Crc32(iend, 4), 0xAE426082u);
    const char* text = "Wikipedia";
    EXPECT_EQ(Adler32(reinterpret_cast<const uint8_t*>(text), std::strlen(text)), 0x11E60398u);
    EXPECT_EQ(Adler32(nullptr, 0), 1u);
}

TEST(PngWriter, StoredBlocksCarryEveryRowBackUnchanged) {
    // 200 x 200 RGB rows make 120,200 bytes: two stored blocks, the first one full.
    const int w = 200, h = 200;
    std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint32_t>(i * 2654435761u) & 0xFFFFFF;
    const std::vector<uint8_t> png = EncodePng(w, h, pixels);
    ASSERT_GT(png.size(), 120200u);

    const uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_EQ(std::memcmp(png.data(), signature, 8), 0);

    // Walk the chunks, checking each CRC.
    std::vector<std::string> types;
    std::vector<uint8_t> idat;
    size_t at = 8;
    while (at + 12 <= png.size()) {
        const uint32_t length = Read32(png, at);
        const std::string type(png.begin() + at + 4, png.begin() + at + 8);
        EXPECT_EQ(Read32(png, at + 8 + length), Crc32(png.data() + at + 4, 4 + length)) << type;
        if (type == "IHDR") {
            ASSERT_EQ(length, 13u);
            EXPECT_EQ(Read32(png, at + 8), 200u);
            EXPECT_EQ(Read32(png, at + 12), 200u);
            EXPECT_EQ(png[at + 16], 8);  // bit depth
            EXPECT_EQ(png[at + 17], 2);  // RGB
        }
        if (type == "IDAT") idat.assign(png.begin() + at + 8, png.begin() + at + 8 + length);
        types.push_back(type);
        at += 12 + length;
    }
    EXPECT_EQ(at, png.size());
    ASSERT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

    // zlib header, stored blocks, Adler-32 of the raw rows.
    ASSERT_GE(idat.size(), 6u);
    EXPECT_EQ((idat[0] * 256 + idat[1]) % 31, 0);
    std::vector<uint8_t> raw;
    size_t p = 2;
    int blocks = 0;
    for (bool last = false; !last;) {
        ASSERT_LE(p + 5, idat.size());
        last = idat[p] & 1;
        EXPECT_EQ(idat[p] & 6, 0);  // stored
        const size_t n = idat[p + 1] | (idat[p + 2] << 8);
        EXPECT_EQ(n ^ 0xFFFF, static_cast<size_t>(idat[p + 3] | (idat[p + 4] << 8)));
        raw.insert(raw.end(), idat.begin() + p + 5, idat.begin() + p + 5 + n);
        p += 5 + n;
        ++blocks;
    }
    EXPECT_EQ(blocks, 2);
    ASSERT_EQ(raw.size(), 200u * (1 + 600));
    EXPECT_EQ(Read32(idat, p), Adler32(raw.data(), raw.size()));
    EXPECT_EQ(p + 4, idat.size());
    for (int y : {0, 117, 199}) {
        EXPECT_EQ(raw[y * 601u], 0);  // no filter
        for (int x : {0, 57, 199}) {
            const uint32_t px = pixels[static_cast<size_t>(y) * w + x];
            const uint8_t* rgb = &raw[y * 601u + 1 + 3 * x];
            EXPECT_EQ((uint32_t{rgb[0]} << 16) | (uint32_t{rgb[1]} << 8) | rgb[2], px) << x << "," << y;
        }
    }
}

TEST(PngWriter, RefusesAnEmptyOrShortImage) {
    EXPECT_TRUE(EncodePng(0, 5, {}).empty());
    EXPECT_TRUE(EncodePng(2, 2, {1, 2, 3}).empty());
}

}  // namespace
}  // namespace tw::test
