// Signed manifest: the update.cfg.sig reader against malformed files, the acceptance decision, the dates.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "updater/signature.h"

namespace {

const std::string Header = "quorvane-manifest-signature 1\n";
const std::string Sha = "sha256 0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789abcdef\n";
const std::string Version = "version 1765000000\n";
const std::string Expires = "expires 1800000000\n";
// 64 bytes: 0x00 0x01 ... 0x3f.
const std::string SignatureLine =
    "signature AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+Pw==\n";
const std::string Valid = Header + Sha + Version + Expires + SignatureLine;

const char* Read(const std::string& text, SignatureFile* file) {
    return ReadSignatureFile(text.data(), text.size(), file);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    return text.replace(at, from.size(), to);
}

// A stand-in for ECDSA: the "signature" is an FNV-1a hash of the whole statement, so the decision is tested on its
// own and a changed statement fails as a real signature would.
void FakeSign(const void* message, size_t length, uint8_t signature[SignatureSize]) {
    uint64_t hash = 14695981039346656037ull;
    for (size_t i = 0; i < length; ++i) hash = (hash ^ ((const uint8_t*)message)[i]) * 1099511628211ull;
    memset(signature, 0, SignatureSize);
    memcpy(signature, &hash, sizeof hash);
}

bool FakeVerify(const uint8_t key[PublicKeySize], const void* message, size_t length,
                const uint8_t signature[SignatureSize]) {
    uint8_t expected[SignatureSize];
    FakeSign(message, length, expected);
    return key[0] == 0x42 && memcmp(expected, signature, SignatureSize) == 0;
}

}  // namespace

TEST(SignatureFile, ReadsEveryField) {
    SignatureFile file;
    ASSERT_EQ(nullptr, Read(Valid, &file));
    EXPECT_EQ(0x01, file.manifestSha256[0]);
    EXPECT_EQ(0xcd, file.manifestSha256[14]);  // upper-case digits read alike
    EXPECT_EQ(0xef, file.manifestSha256[31]);
    EXPECT_EQ(1765000000u, file.version);
    EXPECT_EQ(1800000000u, file.expires);
    for (int i = 0; i < SignatureSize; ++i) EXPECT_EQ(i, file.signature[i]);
    EXPECT_EQ((Header + Sha + Version + Expires).size(), file.statementLength);

    ASSERT_EQ(nullptr, Read(Replace(Valid, Expires, "expires none\n"), &file));
    EXPECT_EQ(0u, file.expires);
    ASSERT_EQ(nullptr, Read(Replace(Valid, Version, "version 18446744073709551615\n"), &file));
    EXPECT_EQ(UINT64_MAX, file.version);
}

TEST(SignatureFile, RefusesMalformedFiles) {
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"header only", Header},
        {"truncated in the signature", Valid.substr(0, Valid.size() - 10)},
        {"last line end missing", Valid.substr(0, Valid.size() - 1)},
        {"another format version", Replace(Valid, Header, "quorvane-manifest-signature 2\n")},
        {"text after the signature", Valid + "signature AAAA\n"},
        {"blank line at the end", Valid + "\n"},
        {"overlong", Valid + std::string(600, '#')},
        {"CR LF line ends", Replace(Valid, "\nversion", "\r\nversion")},
        {"NUL inside", Replace(Valid, "version ", std::string("version\0", 8))},
        {"sha256 missing", Replace(Valid, Sha, "")},
        {"version missing", Replace(Valid, Version, "")},
        {"expires missing", Replace(Valid, Expires, "")},
        {"signature missing", Replace(Valid, SignatureLine, "")},
        {"fields out of order", Header + Version + Sha + Expires + SignatureLine},
        {"sha256 bad hex", Replace(Valid, "sha256 0123", "sha256 0g23")},
        {"sha256 too short", Replace(Valid, "sha256 0123", "sha256 012")},
        {"sha256 too long", Replace(Valid, "sha256 0123", "sha256 01234")},
        {"two blanks after the key", Replace(Valid, "version ", "version  ")},
        {"version empty", Replace(Valid, Version, "version \n")},
        {"version signed", Replace(Valid, Version, "version +1765000000\n")},
        {"version leading zero", Replace(Valid, Version, "version 01765000000\n")},
        {"version beyond 64 bits", Replace(Valid, Version, "version 18446744073709551616\n")},
        {"version not a number", Replace(Valid, Version, "version 17e9\n")},
        {"expires zero", Replace(Valid, Expires, "expires 0\n")},
        {"expires a word", Replace(Valid, Expires, "expires never\n")},
        {"signature bad base64 digit", Replace(Valid, "AAECAwQF", "AAEC*wQF")},
        {"signature padding missing", Replace(Valid, "Pw==\n", "Pw\n")},
        {"signature one digit short", Replace(Valid, "Pw==\n", "P==\n")},
        {"signature padding inside", Replace(Valid, "AAECAwQF", "AAE=AwQF")},
        {"signature unused bits set", Replace(Valid, "Pw==\n", "Px==\n")},
        {"signature of 63 bytes", Replace(Valid, "PD0+Pw==\n", "PD0+\n")},
        {"signature in hex", Replace(Valid, SignatureLine, "signature " + std::string(128, 'a') + "\n")},
    };
    for (const auto& c : cases) {
        SignatureFile file;
        EXPECT_NE(nullptr, Read(c.text, &file)) << c.what;
    }
}

TEST(SignatureFile, WrittenFileReadsBack) {
    uint8_t digest[Sha256Size], signature[SignatureSize];
    for (int i = 0; i < Sha256Size; ++i) digest[i] = (uint8_t)(0xf0 + i);
    for (int i = 0; i < SignatureSize; ++i) signature[i] = (uint8_t)(255 - i);
    for (uint64_t expires : {(uint64_t)0, (uint64_t)1900000000}) {
        char statement[MaxSignatureFileSize], text[MaxSignatureFileSize + 1];
        size_t statementLength = FormatSignatureStatement(statement, sizeof statement, digest, UINT64_MAX, expires);
        ASSERT_NE(0u, statementLength);
        size_t length = FormatSignatureFile(text, sizeof text, statement, statementLength, signature);
        ASSERT_NE(0u, length);
        SignatureFile file;
        ASSERT_EQ(nullptr, ReadSignatureFile(text, length, &file)) << text;
        EXPECT_EQ(0, memcmp(digest, file.manifestSha256, Sha256Size));
        EXPECT_EQ(UINT64_MAX, file.version);
        EXPECT_EQ(expires, file.expires);
        EXPECT_EQ(0, memcmp(signature, file.signature, SignatureSize));
        EXPECT_EQ(statementLength, file.statementLength);
        EXPECT_EQ(0, memcmp(statement, text, statementLength));
        EXPECT_LE(length, (size_t)MaxSignatureFileSize);
    }
    char small[40];
    EXPECT_EQ(0u, FormatSignatureStatement(small, sizeof small, digest, 1, 0));
}

TEST(SignatureCheck, DecidesAndSaysWhy) {
    uint8_t key[PublicKeySize] = {0x42};
    uint8_t otherKey[PublicKeySize] = {0x41};
    uint8_t digest[Sha256Size] = {1, 2, 3};
    uint8_t otherDigest[Sha256Size] = {1, 2, 4};
    // A file "signed" for digest, version 500, expiring at 1800000000 (2027-01-15 08:00 UTC).
    auto make = [&](uint64_t version, uint64_t expires) {
        char statement[MaxSignatureFileSize], text[MaxSignatureFileSize + 1];
        size_t statementLength = FormatSignatureStatement(statement, sizeof statement, digest, version, expires);
        uint8_t signature[SignatureSize];
        FakeSign(statement, statementLength, signature);
        return std::string(text, FormatSignatureFile(text, sizeof text, statement, statementLength, signature));
    };
    const std::string good = make(500, 1800000000);
    const int64_t before = 1799999999, at = 1800000000;
    const struct {
        const char* what;
        const char* text;  // null: no signature arrived
        const uint8_t* digest;
        const uint8_t* key;
        uint64_t accepted;
        int64_t now;
        ManifestVerdict verdict;
        const char* line;
    } cases[] = {
        {"good, first in this folder", good.c_str(), digest, key, 0, before, ManifestAccepted, ""},
        {"same version again", good.c_str(), digest, key, 500, before, ManifestAccepted, ""},
        {"no signature", nullptr, digest, key, 0, before, ManifestNoSignature, "Manifest refused: no signature"},
        {"malformed", "quorvane-manifest-signature 1\n", digest, key, 0, before, ManifestBadSignature,
         "Manifest refused: the signature is not valid"},
        {"another key", good.c_str(), digest, otherKey, 0, before, ManifestBadSignature,
         "Manifest refused: the signature is not valid"},
        {"manifest changed", good.c_str(), otherDigest, key, 0, before, ManifestBadSignature,
         "Manifest refused: the signature is not valid"},
        {"statement changed", nullptr, digest, key, 0, before, ManifestBadSignature,
         "Manifest refused: the signature is not valid"},
        {"older", good.c_str(), digest, key, 501, before, ManifestOlder,
         "Manifest refused: version 500 is older than the installed version 501"},
        {"expired at the second", good.c_str(), digest, key, 0, at, ManifestExpired,
         "Manifest refused: it expired on 2027-01-15"},
        {"clock before 1970", good.c_str(), digest, key, 0, -5, ManifestExpired,
         "Manifest refused: it expired on 2027-01-15"},
    };
    const std::string changed = Replace(good, "version 500", "version 900");
    for (const auto& c : cases) {
        const char* text = c.text;
        if (!strcmp(c.what, "statement changed")) text = changed.c_str();
        SignatureFile file;
        ManifestVerdict verdict = CheckManifestSignature(text, text ? strlen(text) : 0, c.digest, c.key, FakeVerify,
                                                         c.accepted, c.now, &file);
        EXPECT_EQ(c.verdict, verdict) << c.what;
        char line[200];
        FormatRefusalLine(line, sizeof line, verdict, file, c.accepted);
        EXPECT_STREQ(c.line, line) << c.what;
    }
    SignatureFile file;
    const std::string never = make(7, 0);
    EXPECT_EQ(ManifestAccepted,
              CheckManifestSignature(never.c_str(), never.size(), digest, key, FakeVerify, 7, INT64_MAX, &file));
}

TEST(SignatureDates, KnownDays) {
    const struct {
        int64_t seconds;
        const char* date;
    } cases[] = {
        {0, "1970-01-01"},           {86399, "1970-01-01"},       {-1, "1969-12-31"},
        {951782400, "2000-02-29"},   {1577923200, "2020-01-02"},  {4107542400, "2100-03-01"},
        {253402214400, "9999-12-31"},
    };
    for (const auto& c : cases) {
        char date[32];
        FormatUtcDate(date, sizeof date, c.seconds);
        EXPECT_STREQ(c.date, date) << c.seconds;
        int64_t day;
        ASSERT_TRUE(ParseUtcDate(c.date, &day)) << c.date;
        EXPECT_EQ(c.seconds - ((c.seconds % 86400) + 86400) % 86400, day) << c.date;
    }
    for (const char* bad : {"2023-02-29", "2024-13-01", "2024-00-10", "2024-04-31", "2024-1-01", "2024/01/01",
                            "2024-01-01T", "", "abcd-ef-gh"}) {
        int64_t day;
        EXPECT_FALSE(ParseUtcDate(bad, &day)) << bad;
    }
}

TEST(SignatureKeyFile, ReadsWhatIsWrittenAndRefusesOthers) {
    uint8_t key[PublicKeySize], back[PublicKeySize];
    for (int i = 0; i < PublicKeySize; ++i) key[i] = (uint8_t)(i * 7);
    char text[512];
    size_t length = FormatPublicKeyText(text, sizeof text, key);
    ASSERT_TRUE(ReadPublicKeyText(text, length, back));
    EXPECT_EQ(0, memcmp(key, back, sizeof key));
    const std::string hex(128, 'a');
    for (const std::string& bad : {std::string("# only a comment\n"), hex.substr(2) + "\n", hex + "aa\n",
                                   hex + "\n" + hex + "\n", std::string("-----BEGIN PUBLIC KEY-----\n")}) {
        EXPECT_FALSE(ReadPublicKeyText(bad.data(), bad.size(), back)) << bad;
    }
    uint64_t version = 0;
    EXPECT_TRUE(ParseAcceptedVersion("1765000000\r\n", 12, &version));
    EXPECT_EQ(1765000000u, version);
    EXPECT_FALSE(ParseAcceptedVersion("", 0, &version));
    EXPECT_FALSE(ParseAcceptedVersion("12x\n", 4, &version));
}
