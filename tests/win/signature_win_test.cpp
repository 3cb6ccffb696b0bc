// CNG verification against the FIPS 186-3 ECDSA signature-verification vectors (P-256, SHA-256) and SHA-256
// known answers; main thread.
#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "updater/trust/signature.h"

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back((uint8_t)std::stoul(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string ToHex(const uint8_t* bytes, size_t size) {
    std::string hex;
    char two[3];
    for (size_t i = 0; i < size; ++i) {
        snprintf(two, sizeof two, "%02x", bytes[i]);
        hex += two;
    }
    return hex;
}

// The vectors of one section of a SigVer.rsp file: "Name = value" lines, one blank-separated block each.
std::vector<std::map<std::string, std::string>> ReadSection(const char* path, const std::string& section) {
    std::ifstream in(path);
    std::vector<std::map<std::string, std::string>> vectors;
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') {
            inside = line == "[" + section + "]";
            continue;
        }
        size_t equals = line.find(" = ");
        if (!inside || equals == std::string::npos) continue;
        std::string name = line.substr(0, equals);
        if (name == "Msg") vectors.emplace_back();
        if (!vectors.empty()) vectors.back()[name] = line.substr(equals + 3);
    }
    return vectors;
}

}  // namespace

TEST(ManifestCrypto, VerifiesFips186SigVerVectors) {
    auto vectors = ReadSection(SIGVER_VECTORS, "P-256,SHA-256");
    ASSERT_EQ(15u, vectors.size()) << "P-256,SHA-256 vectors in " << SIGVER_VECTORS
                                   << " (install python3-cryptography-vectors)";
    int valid = 0;
    for (auto& vector : vectors) {
        std::vector<uint8_t> message = FromHex(vector["Msg"]);
        std::vector<uint8_t> key = FromHex(vector["Qx"] + vector["Qy"]);
        std::vector<uint8_t> signature = FromHex(vector["R"] + vector["S"]);
        ASSERT_EQ((size_t)PublicKeySize, key.size());
        ASSERT_EQ((size_t)SignatureSize, signature.size());
        bool expected = vector["Result"].rfind("P", 0) == 0;
        valid += expected;
        EXPECT_EQ(expected, VerifyP256Signature(key.data(), message.data(), message.size(), signature.data()))
            << "Msg " << vector["Msg"].substr(0, 16) << "... Result " << vector["Result"];
    }
    // The section holds both outcomes; a verifier that always answers the same fails one of them.
    EXPECT_GT(valid, 0);
    EXPECT_LT(valid, 15);
}

TEST(ManifestCrypto, Sha256KnownAnswers) {
    const struct {
        std::string input, digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        // Longer than the file reader's block, so the file digest is taken in several steps.
        {std::string(200000, 'a'), "2287d207f24a941ff3b56c04c8a25ad56b63e3023207b3bb5b4ac0c9869d74be"},
    };
    for (const auto& c : cases) {
        uint8_t digest[Sha256Size];
        ASSERT_TRUE(Sha256OfBytes(c.input.data(), c.input.size(), digest));
        EXPECT_EQ(c.digest, ToHex(digest, sizeof digest)) << c.input.size() << " bytes";
        const char* name = "sha256-test.tmp";
        FILE* file = fopen(name, "wb");
        ASSERT_NE(nullptr, file);
        fwrite(c.input.data(), 1, c.input.size(), file);
        fclose(file);
        ASSERT_TRUE(Sha256OfFile(name, digest));
        remove(name);
        EXPECT_EQ(c.digest, ToHex(digest, sizeof digest)) << "file of " << c.input.size() << " bytes";
    }
    uint8_t digest[Sha256Size];
    EXPECT_FALSE(Sha256OfFile("no such file.tmp", digest));
}
