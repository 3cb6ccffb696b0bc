// SHA-256, portable and with the SHA extensions, against the NIST short and long message vectors; in odd pieces.
#include <gtest/gtest.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "updater/sha1.h"
#include "updater/trust/sha256.h"

namespace {

struct Vector {
    std::vector<uint8_t> message, digest;
};

std::vector<uint8_t> FromHex(const char* hex, size_t bytes) {
    std::vector<uint8_t> out(bytes);
    for (size_t i = 0; i < bytes; ++i) sscanf(hex + 2 * i, "%2hhx", &out[i]);
    return out;
}

// The "Len = bits", "Msg = hex", "MD = hex" triples of a CAVS response file.
std::vector<Vector> ReadVectors(const char* name) {
    std::vector<Vector> vectors;
    std::string path = std::string(SHA2_VECTORS "/") + name;
    FILE* file = fopen(path.c_str(), "r");
    EXPECT_TRUE(file) << path;
    if (!file) return vectors;
    static char line[200000];  // the longest Msg line is 102,406 characters
    size_t bits = 0;
    while (fgets(line, sizeof line, file)) {
        if (sscanf(line, "Len = %zu", &bits) == 1) vectors.emplace_back();
        if (strncmp(line, "Msg = ", 6) == 0) vectors.back().message = FromHex(line + 6, bits / 8);
        if (strncmp(line, "MD = ", 5) == 0) vectors.back().digest = FromHex(line + 5, Sha256Size);
    }
    fclose(file);
    return vectors;
}

std::vector<uint8_t> Digest(const std::vector<uint8_t>& message, size_t piece) {
    Sha256 state;
    Sha256Init(state);
    for (size_t at = 0; at < message.size(); at += piece) {
        Sha256Update(state, message.data() + at, std::min(piece, message.size() - at));
    }
    std::vector<uint8_t> out(Sha256Size);
    Sha256Finish(state, out.data());
    return out;
}

class Sha256Paths : public ::testing::TestWithParam<Sha256Implementation> {
protected:
    void SetUp() override {
        if (!SelectSha256Implementation(GetParam())) GTEST_SKIP() << "this CPU has no SHA extensions";
    }
    void TearDown() override {
        if (!SelectSha256Implementation(Sha256Extensions)) SelectSha256Implementation(Sha256Portable);
    }
};

}  // namespace

TEST_P(Sha256Paths, NistVectors) {
    struct File {
        const char* name;
        size_t count;
    } files[] = {{"SHA256ShortMsg.rsp", 65}, {"SHA256LongMsg.rsp", 64}};
    for (const File& file : files) {
        std::vector<Vector> vectors = ReadVectors(file.name);
        EXPECT_EQ(file.count, vectors.size()) << file.name;
        for (const Vector& v : vectors) EXPECT_EQ(v.digest, Digest(v.message, v.message.size() + 1)) << file.name;
    }
}

// Pieces that straddle block edges, so whole blocks are also compressed from unaligned addresses.
TEST_P(Sha256Paths, StreamingInOddPieces) {
    for (const Vector& v : ReadVectors("SHA256LongMsg.rsp")) {
        for (size_t piece : {1, 3, 63, 65, 4099}) EXPECT_EQ(v.digest, Digest(v.message, piece)) << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(Sha256, Sha256Paths, ::testing::Values(Sha256Portable, Sha256Extensions),
                         [](const ::testing::TestParamInfo<Sha256Implementation>& info) {
                             return info.param == Sha256Portable ? "Portable" : "Extensions";
                         });

// The long vectors' file is several read buffers long; its digest must equal that of its bytes in memory.
TEST(Sha256File, MatchesTheBytesInMemoryAndReportsAMissingFile) {
    static unsigned char buffer[DigestReadSize];
    const char* path = SHA2_VECTORS "/SHA256LongMsg.rsp";
    std::vector<uint8_t> bytes;
    FILE* file = fopen(path, "rb");
    ASSERT_TRUE(file) << path;
    for (int c; (c = fgetc(file)) != EOF;) bytes.push_back((uint8_t)c);
    fclose(file);
    ASSERT_GT(bytes.size(), 4u * DigestReadSize);
    std::vector<uint8_t> out(Sha256Size);
    EXPECT_EQ(0, Sha256File(path, out.data(), buffer));
    EXPECT_EQ(Digest(bytes, bytes.size() + 1), out);
    EXPECT_EQ(ENOENT, Sha256File(SHA2_VECTORS "/no such file", out.data(), buffer));
}
