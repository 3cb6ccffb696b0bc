// The committed banner bitmap keeps what the masked painting relies on: pure white only in the surround.
#include <gtest/gtest.h>
#include <stdio.h>

#include <array>
#include <vector>

namespace {

struct Bitmap {
    int width = 0, height = 0;
    std::vector<std::array<unsigned char, 3>> rgb;  // top row first
    const std::array<unsigned char, 3>& At(int x, int y) const { return rgb[(size_t)y * width + x]; }
};

unsigned ReadLe(const unsigned char* p, int bytes) {
    unsigned value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

// Reads an uncompressed 24-bit bottom-up BMP; an empty bitmap when the file is anything else.
Bitmap ReadBitmap(const char* path) {
    Bitmap bitmap;
    FILE* file = fopen(path, "rb");
    if (!file) return bitmap;
    std::vector<unsigned char> data;
    unsigned char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) data.insert(data.end(), chunk, chunk + n);
    fclose(file);
    if (data.size() < 54 || data[0] != 'B' || data[1] != 'M') return bitmap;
    unsigned offset = ReadLe(&data[10], 4);
    int width = (int)ReadLe(&data[18], 4), height = (int)ReadLe(&data[22], 4);
    if (ReadLe(&data[28], 2) != 24 || ReadLe(&data[30], 4) != 0 || width <= 0 || height <= 0) return bitmap;
    size_t stride = ((size_t)width * 3 + 3) / 4 * 4;
    if (offset + stride * height > data.size()) return bitmap;
    bitmap.width = width;
    bitmap.height = height;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = &data[offset + stride * (height - 1 - y)];
        for (int x = 0; x < width; ++x) bitmap.rgb.push_back({row[3 * x + 2], row[3 * x + 1], row[3 * x]});
    }
    return bitmap;
}

bool IsWhite(const std::array<unsigned char, 3>& pixel) {
    return pixel[0] == 255 && pixel[1] == 255 && pixel[2] == 255;
}

}  // namespace

TEST(Banner, PureWhiteIsTheSurroundAlone) {
    Bitmap banner = ReadBitmap(TESTS_SOURCE_DIR "/../resources/banner.bmp");
    ASSERT_EQ(530, banner.width);
    ASSERT_EQ(225, banner.height);
    EXPECT_EQ((std::array<unsigned char, 3>{253, 253, 253}), banner.At(529, 0));

    // Every pure white pixel must be reachable from the edge through pure white: white inside the art
    // would be painted through as a hole.
    std::vector<bool> reached(banner.rgb.size());
    std::vector<std::pair<int, int>> todo;
    for (int x = 0; x < banner.width; ++x) todo.insert(todo.end(), {{x, 0}, {x, banner.height - 1}});
    for (int y = 0; y < banner.height; ++y) todo.insert(todo.end(), {{0, y}, {banner.width - 1, y}});
    while (!todo.empty()) {
        auto [x, y] = todo.back();
        todo.pop_back();
        if (x < 0 || y < 0 || x >= banner.width || y >= banner.height) continue;
        size_t index = (size_t)y * banner.width + x;
        if (reached[index] || !IsWhite(banner.rgb[index])) continue;
        reached[index] = true;
        todo.insert(todo.end(), {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}});
    }
    size_t white = 0, surround = 0;
    for (size_t i = 0; i < banner.rgb.size(); ++i) {
        white += IsWhite(banner.rgb[i]);
        surround += reached[i];
    }
    EXPECT_EQ(white, surround) << "pure white pixels inside the art";
    EXPECT_EQ(62920u, surround);
}
