// SHA-1 against the standard vectors and sha1sum, and the file digest's error marker.
#include <gtest/gtest.h>
#include <errno.h>
#include <string.h>

#include <string>

#include "tests/temp_folder.h"
#include "updater/digest.h"

namespace {

std::string Sha1Hex(const std::string& data, size_t chunk) {
    Sha1 state;
    Sha1Init(state);
    for (size_t at = 0; at < data.size(); at += chunk) {
        Sha1Update(state, data.data() + at, std::min(chunk, data.size() - at));
    }
    char text[DigestTextSize];
    Sha1FinishHex(state, text);
    return text;
}

// Deterministic content whose digests were taken with sha1sum (see the table below).
std::string Pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = (char)((i * 7 + (i >> 8) * 13) & 0xff);
    return data;
}

}  // namespace

TEST(Sha1, StandardVectors) {
    struct Case {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "a49b2446a02c645bf419f995b67091253a04a259"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const Case& c : cases) {
        // Whole, byte by byte and in uneven pieces: the streaming must not depend on how bytes arrive.
        for (size_t chunk : {c.message.size() + 1, (size_t)1, (size_t)63, (size_t)65, (size_t)4099}) {
            EXPECT_EQ(c.digest, Sha1Hex(c.message, chunk)) << c.message.size() << " bytes in pieces of " << chunk;
        }
    }
}

class FileDigest : public InTempFolder {};

TEST_F(FileDigest, MatchesKnownDigestsAndSha1sum) {
    struct Case {
        size_t size;
        const char* digest;  // sha1sum of Pattern(size)
    } cases[] = {
        {0, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {55, "aecd1643c9903b9bae8cb94f53c50f8a4e18605b"},
        {56, "f5d65c621c02cc8e785159feff8088e3072da1bc"},
        {63, "4952f0fe097e4d6410ae9eab4855aa836caf3bff"},
        {64, "1e17ae1fc093e5daca033553c97a5192ca164486"},
        {65, "ac44f5dbe3e9b5d2733fc9537fcad715c3c20bc3"},
        {3 * 1048576 + 17, "6b19ce9428aadf1e9ffdc433e1c79f90b09cad99"},
    };
    for (const Case& c : cases) {
        std::string name = "file" + std::to_string(c.size) + ".bin";
        WriteFile(name, Pattern(c.size));
        EXPECT_EQ(0, ComputeFileDigest(name.c_str())) << name;
        EXPECT_EQ(c.digest, std::string(DigestText)) << name;
#ifndef _WIN32
        // Where sha1sum exists, it is asked again in this run.
        std::string command = "sha1sum " + name + " 2>/dev/null";
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char out[128] = "";
            if (fgets(out, sizeof out, pipe)) {
                EXPECT_EQ(std::string(out, 40), std::string(DigestText)) << name;
            }
            pclose(pipe);
        }
#endif
    }
}

TEST_F(FileDigest, UnreadableFileWritesOnlyTheMarker) {
    // As at process start: a first failure leaves "-" alone.
    memset(DigestText, 0, sizeof DigestText);
    EXPECT_EQ(ENOENT, ComputeFileDigest("missing.bin"));
    EXPECT_EQ(std::string("-"), DigestText);

    // After a success, only the first character is replaced.
    WriteFile("abc.txt", "abc");
    ASSERT_EQ(0, ComputeFileDigest("abc.txt"));
    EXPECT_NE(0, ComputeFileDigest("missing.bin"));
    EXPECT_EQ(std::string("-9993e364706816aba3e25717850c26c9cd0d89d"), DigestText);

    // A folder cannot be read as a file (opening fails on Windows, reading fails elsewhere).
    std::filesystem::create_directory("folder");
    ASSERT_EQ(0, ComputeFileDigest("abc.txt"));
    EXPECT_NE(0, ComputeFileDigest("folder"));
    EXPECT_EQ('-', DigestText[0]);
}
