// SHA-1, portable and with the SHA extensions, against the standard vectors and sha1sum; the file digest's error marker and order.
#include <gtest/gtest.h>
#include <errno.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "tests/temp_folder.h"
#include "updater/sha1.h"

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

// Runs check once with each SHA-1 implementation this CPU has, and leaves the fastest selected.
template <typename Check>
void WithEachImplementation(Check check) {
    for (Sha1Implementation implementation : {Sha1Portable, Sha1Extensions}) {
        if (!SelectSha1Implementation(implementation)) {
            printf("This CPU has no SHA extensions; only the portable SHA-1 is checked.\n");
            continue;
        }
        SCOPED_TRACE(implementation == Sha1Portable ? "portable SHA-1" : "SHA extensions");
        check();
    }
    SelectSha1Implementation(Sha1ExtensionsAvailable() ? Sha1Extensions : Sha1Portable);
}

}  // namespace

TEST(Sha1, StandardVectors) {
    WithEachImplementation([] {
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
    });
}

class FileDigest : public InTempFolder {};

TEST_F(FileDigest, MatchesKnownDigestsAndSha1sum) {
    WithEachImplementation([] {
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
    });
}

// Random inputs of every length from 0 to 300 bytes and a few MiB: both implementations agree, in
// uneven pieces, and (where sha1sum exists) with sha1sum, asked once for all the files.
TEST_F(FileDigest, RandomInputsAgreeWithEachOtherAndSha1sum) {
    std::mt19937 random(20261207);
    std::vector<std::string> inputs;
    for (size_t size = 0; size <= 300; ++size) inputs.push_back(std::string(size, '\0'));
    inputs.push_back(std::string(3 * 1048576 + 5, '\0'));
    for (std::string& input : inputs)
        for (char& c : input) c = (char)random();

    std::vector<std::string> portable;
    ASSERT_TRUE(SelectSha1Implementation(Sha1Portable));
    for (const std::string& input : inputs) portable.push_back(Sha1Hex(input, input.size() + 1));
    WithEachImplementation([&] {
        for (size_t i = 0; i < inputs.size(); ++i) {
            ASSERT_EQ(portable[i], Sha1Hex(inputs[i], 37)) << inputs[i].size() << " bytes";
            ASSERT_EQ(portable[i], Sha1Hex(inputs[i], inputs[i].size() + 1)) << inputs[i].size() << " bytes";
        }
    });
#ifndef _WIN32
    std::string command = "sha1sum";
    for (size_t i = 0; i < inputs.size(); ++i) {
        WriteFile("random" + std::to_string(i), inputs[i]);
        command += " random" + std::to_string(i);
    }
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    char out[128];
    size_t lines = 0;
    for (; fgets(out, sizeof out, pipe); ++lines) {
        ASSERT_LT(lines, inputs.size());
        EXPECT_EQ(std::string(out, 40), portable[lines]) << inputs[lines].size() << " bytes";
    }
    int status = pclose(pipe);
    // A machine without sha1sum still checks the implementations against each other.
    if (status == 0) {
        EXPECT_EQ(inputs.size(), lines);
    }
#endif
}

// Many files, some missing, digested on two threads: reported in order, with DigestText exactly as
// digesting them one after another leaves it.
std::vector<std::string> OrderTestPaths;
std::vector<std::string> OrderTestReports;

TEST_F(FileDigest, ManyFilesAreReportedInOrderAsIfDigestedOneByOne) {
    OrderTestPaths.clear();
    for (int i = 0; i < 200; ++i) {
        std::string name = "f" + std::to_string(i);
        // A large file early, so the helper thread finishes later files first.
        if (i % 7 != 3) WriteFile(name, Pattern(i == 1 ? 2 * 1048576 : (size_t)i * 13));
        OrderTestPaths.push_back(name);
    }
    std::vector<std::string> expected;
    memset(DigestText, 0, sizeof DigestText);
    for (const std::string& path : OrderTestPaths) {
        int error = ComputeFileDigest(path.c_str());
        expected.push_back(std::to_string(error) + " " + DigestText);
    }
    for (int repeat = 0; repeat < 3; ++repeat) {
        memset(DigestText, 0, sizeof DigestText);
        OrderTestReports.clear();
        DigestFilesInOrder((int)OrderTestPaths.size(), [](int index) { return OrderTestPaths[index].c_str(); },
                           [](int index, int error) {
                               ASSERT_EQ((int)OrderTestReports.size(), index);
                               OrderTestReports.push_back(std::to_string(error) + " " + DigestText);
                           });
        EXPECT_EQ(expected, OrderTestReports);
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
