// Signed manifest: the update.cfg.sig reader against malformed files, the acceptance decision with several keys, the
// update.cfg.files match, the dates.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "common/text.h"
#include "updater/trust/signature.h"

namespace {

const std::string Header = "quorvane-manifest-signature 2\n";
const std::string Key = "key 42000000000000a0\n";
const std::string Sha = "sha256 0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789abcdef\n";
const std::string Files = "files 00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff\n";
const std::string Version = "version 1765000000\n";
const std::string Expires = "expires 1800000000\n";
// 64 bytes: 0x00 0x01 ... 0x3f.
const std::string SignatureLine =
    "signature AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+Pw==\n";
const std::string Valid = Header + Key + Sha + Files + Version + Expires + SignatureLine;
const std::string Mirrors = "mirrors 5555555555555555555555555555555555555555555555555555555555555555\n";
const std::string ValidWithMirrors =
    "quorvane-manifest-signature 3\n" + Key + Sha + Files + Mirrors + Version + Expires + SignatureLine;

const char* Read(const std::string& text, SignatureFile* file) {
    return ReadSignatureFile(text.data(), text.size(), file);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    return text.replace(at, from.size(), to);
}

// A stand-in for ECDSA: the "signature" is an FNV-1a hash of the whole key and statement, so the decision is tested
// on its own and a changed statement, or another key, fails as a real signature would.
void FakeSign(const uint8_t key[PublicKeySize], const void* message, size_t length, uint8_t signature[SignatureSize]) {
    uint64_t hash = 14695981039346656037ull;
    for (size_t i = 0; i < PublicKeySize; ++i) hash = (hash ^ key[i]) * 1099511628211ull;
    for (size_t i = 0; i < length; ++i) hash = (hash ^ ((const uint8_t*)message)[i]) * 1099511628211ull;
    memset(signature, 0, SignatureSize);
    memcpy(signature, &hash, sizeof hash);
}

bool FakeVerify(const uint8_t key[PublicKeySize], const void* message, size_t length,
                const uint8_t signature[SignatureSize]) {
    uint8_t expected[SignatureSize];
    FakeSign(key, message, length, expected);
    return memcmp(expected, signature, SignatureSize) == 0;
}

}  // namespace

TEST(SignatureFile, ReadsEveryField) {
    SignatureFile file;
    ASSERT_EQ(nullptr, Read(Valid, &file));
    EXPECT_EQ(0x42, file.keyId[0]);
    EXPECT_EQ(0xa0, file.keyId[7]);
    EXPECT_EQ(0x01, file.manifestSha256[0]);
    EXPECT_EQ(0xff, file.listingSha256[31]);
    EXPECT_EQ(0xcd, file.manifestSha256[14]);  // upper-case digits read alike
    EXPECT_EQ(0xef, file.manifestSha256[31]);
    EXPECT_EQ(1765000000u, file.version);
    EXPECT_EQ(1800000000u, file.expires);
    for (int i = 0; i < SignatureSize; ++i) EXPECT_EQ(i, file.signature[i]);
    EXPECT_EQ((Header + Key + Sha + Files + Version + Expires).size(), file.statementLength);

    EXPECT_FALSE(file.hasMirrorList);

    ASSERT_EQ(nullptr, Read(ValidWithMirrors, &file));
    EXPECT_TRUE(file.hasMirrorList);
    EXPECT_EQ(0x55, file.mirrorListSha256[31]);
    EXPECT_EQ(1765000000u, file.version);
    EXPECT_EQ(ValidWithMirrors.size() - SignatureLine.size(), file.statementLength);

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
        {"format 3 without its mirrors line", Replace(Valid, Header, "quorvane-manifest-signature 3\n")},
        {"format 2 with a mirrors line", Replace(ValidWithMirrors, "signature 3", "signature 2")},
        {"format 4", Replace(ValidWithMirrors, "signature 3", "signature 4")},
        {"mirrors after the version", Replace(Replace(ValidWithMirrors, Mirrors, ""), Expires, Expires + Mirrors)},
        {"mirrors of 63 digits", Replace(ValidWithMirrors, "mirrors 5", "mirrors ")},
        {"version 1, which lacks the key and the files", Header.substr(0, 28) + "1\n" + Sha + Version + Expires +
                                                             SignatureLine},
        {"version 1 header on version 2 lines", Replace(Valid, Header, "quorvane-manifest-signature 1\n")},
        {"key missing", Replace(Valid, Key, "")},
        {"files missing", Replace(Valid, Files, "")},
        {"key of 7 bytes", Replace(Valid, Key, "key 42000000000000\n")},
        {"files bad hex", Replace(Valid, "files 0011", "files 0x11")},
        {"text after the signature", Valid + "signature AAAA\n"},
        {"blank line at the end", Valid + "\n"},
        {"overlong", Valid + std::string(600, '#')},
        {"CR LF line ends", Replace(Valid, "\nversion", "\r\nversion")},
        {"NUL inside", Replace(Valid, "version ", std::string("version\0", 8))},
        {"sha256 missing", Replace(Valid, Sha, "")},
        {"version missing", Replace(Valid, Version, "")},
        {"expires missing", Replace(Valid, Expires, "")},
        {"signature missing", Replace(Valid, SignatureLine, "")},
        {"fields out of order", Header + Key + Files + Sha + Version + Expires + SignatureLine},
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
    uint8_t signature[SignatureSize];
    SignatureFile fields{};
    for (int i = 0; i < Sha256Size; ++i) fields.manifestSha256[i] = (uint8_t)(0xf0 + i);
    for (int i = 0; i < Sha256Size; ++i) fields.listingSha256[i] = (uint8_t)(0x30 + i);
    for (int i = 0; i < KeyIdSize; ++i) fields.keyId[i] = (uint8_t)(0x80 + i);
    for (int i = 0; i < SignatureSize; ++i) signature[i] = (uint8_t)(255 - i);
    fields.version = UINT64_MAX;
    for (uint64_t expires : {(uint64_t)0, (uint64_t)1900000000}) {
      for (bool mirrors : {false, true}) {
        char statement[MaxSignatureFileSize], text[MaxSignatureFileSize + 1];
        fields.expires = expires;
        fields.hasMirrorList = mirrors;
        for (int i = 0; i < Sha256Size; ++i) fields.mirrorListSha256[i] = mirrors ? (uint8_t)(0x60 + i) : 0;
        size_t statementLength = FormatSignatureStatement(statement, sizeof statement, fields);
        ASSERT_NE(0u, statementLength);
        size_t length = FormatSignatureFile(text, sizeof text, statement, statementLength, signature);
        ASSERT_NE(0u, length);
        SignatureFile file;
        ASSERT_EQ(nullptr, ReadSignatureFile(text, length, &file)) << text;
        EXPECT_EQ(0, memcmp(fields.manifestSha256, file.manifestSha256, Sha256Size));
        EXPECT_EQ(0, memcmp(fields.listingSha256, file.listingSha256, Sha256Size));
        EXPECT_EQ(mirrors, file.hasMirrorList);
        EXPECT_EQ(0, memcmp(fields.mirrorListSha256, file.mirrorListSha256, Sha256Size));
        EXPECT_EQ(0, memcmp(fields.keyId, file.keyId, KeyIdSize));
        EXPECT_EQ(UINT64_MAX, file.version);
        EXPECT_EQ(expires, file.expires);
        EXPECT_EQ(0, memcmp(signature, file.signature, SignatureSize));
        EXPECT_EQ(statementLength, file.statementLength);
        EXPECT_EQ(0, memcmp(statement, text, statementLength));
        EXPECT_LE(length, (size_t)MaxSignatureFileSize);
      }
    }
    char small[40];
    EXPECT_EQ(0u, FormatSignatureStatement(small, sizeof small, fields));
}

TEST(SignatureCheck, DecidesAndSaysWhy) {
    // A and B are trusted, C is a third key; the last has A's id (its first 8 bytes) but is another point.
    const uint8_t keys[4][PublicKeySize] = {{0x42, 1}, {0x43, 2}, {0x44, 3}, {0x42, 1, 0, 0, 0, 0, 0, 0, 9}};
    const int A = 0, B = 1, C = 2, AlikeA = 3;
    uint8_t digest[Sha256Size] = {1, 2, 3};
    uint8_t otherDigest[Sha256Size] = {1, 2, 4};
    // A file "signed" by keys[signer] for digest, expiring at 1800000000 (2027-01-15 08:00 UTC) unless told, naming
    // the key keys[named] (the signer unless told).
    auto make = [&](uint64_t version, int signer, uint64_t expires = 1800000000, int named = -1) {
        char statement[MaxSignatureFileSize], text[MaxSignatureFileSize + 1];
        SignatureFile fields{};
        ManifestKeyId(keys[named < 0 ? signer : named], fields.keyId);
        memcpy(fields.manifestSha256, digest, Sha256Size);
        fields.version = version;
        fields.expires = expires;
        size_t statementLength = FormatSignatureStatement(statement, sizeof statement, fields);
        uint8_t signature[SignatureSize];
        FakeSign(keys[signer], statement, statementLength, signature);
        return std::string(text, FormatSignatureFile(text, sizeof text, statement, statementLength, signature));
    };
    const std::string good = make(500, A), byB = make(500, B), byC = make(500, C), byAlike = make(500, AlikeA),
                      namesC = make(500, A, 1800000000, C);
    // The same statement in the first format, validly signed by A.
    const std::string v1Statement = "quorvane-manifest-signature 1\nsha256 010203" + std::string(58, '0') +
                                    "\nversion 500\nexpires none\n";
    uint8_t v1Signature[SignatureSize];
    FakeSign(keys[A], v1Statement.data(), v1Statement.size(), v1Signature);
    char v1[MaxSignatureFileSize + 1];
    FormatSignatureFile(v1, sizeof v1, v1Statement.data(), v1Statement.size(), v1Signature);
    const int64_t before = 1799999999, at = 1800000000;
    const char* const NotValid = "Manifest refused: the signature is not valid";
    auto unknownKey = [&](int key) {
        uint8_t id[KeyIdSize];
        ManifestKeyId(keys[key], id);
        char hex[2 * KeyIdSize + 1];
        EncodeHex(id, KeyIdSize, hex);
        return std::string("Manifest refused: signed with key ") + hex +
               ", which this launcher does not know; a newer launcher is needed";
    };
    const std::string unknownA = unknownKey(A), unknownC = unknownKey(C);
    const struct {
        const char* what;
        const char* text;  // null: no signature arrived
        const uint8_t* digest;
        int firstKey, keyCount;  // the trusted keys: keys[firstKey ..]
        uint64_t accepted;
        int64_t now;
        ManifestVerdict verdict;
        const char* line;
    } cases[] = {
        {"good, first in this folder", good.c_str(), digest, A, 1, 0, before, ManifestAccepted, ""},
        {"same version again", good.c_str(), digest, A, 1, 500, before, ManifestAccepted, ""},
        {"signed by the first of two keys", good.c_str(), digest, A, 2, 0, before, ManifestAccepted, ""},
        {"signed by the second of two keys", byB.c_str(), digest, A, 2, 0, before, ManifestAccepted, ""},
        {"signed by a third key", byC.c_str(), digest, A, 2, 0, before, ManifestUnknownKey, unknownC.c_str()},
        {"signed by a key with a trusted id", byAlike.c_str(), digest, A, 2, 0, before, ManifestBadSignature,
         NotValid},
        {"signed by a trusted key, naming a third", namesC.c_str(), digest, A, 2, 0, before, ManifestUnknownKey,
         unknownC.c_str()},
        {"trusted key with the signer's id, another point", good.c_str(), digest, AlikeA, 1, 0, before,
         ManifestBadSignature, NotValid},
        {"first format, validly signed", v1, digest, A, 2, 0, before, ManifestBadSignature, NotValid},
        {"no signature", nullptr, digest, A, 1, 0, before, ManifestNoSignature, "Manifest refused: no signature"},
        {"malformed", "quorvane-manifest-signature 2\n", digest, A, 1, 0, before, ManifestBadSignature, NotValid},
        {"another key", good.c_str(), digest, B, 1, 0, before, ManifestUnknownKey, unknownA.c_str()},
        {"manifest changed", good.c_str(), otherDigest, A, 1, 0, before, ManifestOtherList, NotValid},
        {"statement changed", nullptr, digest, A, 1, 0, before, ManifestBadSignature, NotValid},
        {"older", good.c_str(), digest, A, 1, 501, before, ManifestOlder,
         "Manifest refused: version 500 is older than the installed version 501"},
        {"expired at the second", good.c_str(), digest, A, 1, 0, at, ManifestExpired,
         "Manifest refused: it expired on 2027-01-15"},
        {"clock before 1970", good.c_str(), digest, A, 1, 0, -5, ManifestExpired,
         "Manifest refused: it expired on 2027-01-15"},
    };
    const std::string changed = Replace(good, "version 500", "version 900");
    for (const auto& c : cases) {
        const char* text = c.text;
        if (!strcmp(c.what, "statement changed")) text = changed.c_str();
        SignatureFile file;
        ManifestVerdict verdict = CheckManifestSignature(text, text ? strlen(text) : 0, c.digest, keys + c.firstKey,
                                                         c.keyCount, FakeVerify, c.accepted, c.now, &file);
        EXPECT_EQ(c.verdict, verdict) << c.what;
        char line[200];
        FormatRefusalLine(line, sizeof line, verdict, file, c.accepted);
        EXPECT_STREQ(c.line, line) << c.what;
    }
    SignatureFile file;
    const std::string never = make(7, A, 0);
    EXPECT_EQ(ManifestAccepted,
              CheckManifestSignature(never.c_str(), never.size(), digest, keys, 1, FakeVerify, 7, INT64_MAX, &file));
}

TEST(FileListing, MatchesTheManifestOrSaysWhy) {
    static const char Paths[3][PathSlotSize] = {"Client.exe", "contents/a.dat", "data/b.spr"};
    static const char Digests[3][DigestSlotSize] = {"da39a3ee5e6b4b0d3255bfef95601890afd80709",
                                                    "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709",
                                                    "0123456789abcdef0123456789abcdef01234567"};
    const std::string sha(64, 'e'), Line1 = "Client.exe " + sha + " 0\n",
                                    Line2 = "contents/a.dat " + sha + " 18446744073709551615\n",
                                    Line3 = "data/b.spr 00" + sha.substr(2) + " 4096\n", Good = Line1 + Line2 + Line3;
    SignatureFile signature{};
    memset(signature.listingSha256, 0x5a, Sha256Size);
    const struct {
        const char* what;
        std::string text;
        int entry = -1;  // with path or digest: the manifest entry changed
        const char* path = nullptr;
        const char* digest = nullptr;
    } cases[] = {
        {"good", Good},
        {"not the signed listing", Good},
        {"over the size limit", Good + std::string(MaxFileListingSize, 'x')},
        {"a path missing", Line1 + Line3},
        {"the last path missing", Line1 + Line2},
        {"an extra path", Good + Line3},
        {"out of order", Line2 + Line1 + Line3},
        {"path in another case", Replace(Good, "data/b.spr", "Data/b.spr")},
        {"last line end missing", Good.substr(0, Good.size() - 1)},
        {"CR LF", Replace(Good, " 0\n", " 0\r\n")},
        {"sha256 of 63 digits", Replace(Good, "data/b.spr 00", "data/b.spr 0")},
        {"length missing", Replace(Good, " 4096\n", "\n")},
        {"length beyond 64 bits", Replace(Good, "18446744073709551615", "18446744073709551616")},
        {"two blanks", Replace(Good, "Client.exe ", "Client.exe  ")},
        {"a third field", Replace(Good, " 4096\n", " 4096 x\n")},
        {"manifest digest of 39 digits", Good, 2, nullptr, "0123456789abcdef0123456789abcdef0123456"},
        {"manifest digest missing", Good, 1, nullptr, "(null)"},
        {"manifest names the listing", Replace(Good, "data/b.spr", "Update.CFG.files"), 2, "Update.CFG.files"},
        {"manifest path inside the signature's name", Replace(Good, "data/b.spr", "update.cfg.sig/x"), 2,
         "update.cfg.sig/x"},
        {"manifest names the mirror list", Replace(Good, "data/b.spr", "update.cfg.mirrors"), 2, "update.cfg.mirrors"},
    };
    for (const auto& c : cases) {
        ManifestEntry entries[3];
        for (int i = 0; i < 3; ++i) {
            snprintf(entries[i].path, PathSlotSize, "%s", Paths[i]);
            snprintf(entries[i].digest, DigestSlotSize, "%s", Digests[i]);
        }
        if (c.path) snprintf(entries[c.entry].path, PathSlotSize, "%s", c.path);
        if (c.digest) snprintf(entries[c.entry].digest, DigestSlotSize, "%s", c.digest);
        uint8_t textSha256[Sha256Size];
        memset(textSha256, strcmp(c.what, "not the signed listing") ? 0x5a : 0x5b, Sha256Size);
        FileFingerprint fingerprints[3];
        char problem[300] = "";
        bool good = !strcmp(c.what, "good");
        EXPECT_EQ(good, MatchFileListing(c.text.data(), c.text.size(), textSha256, signature, entries, 3,
                                         fingerprints, problem, sizeof problem))
            << c.what;
        EXPECT_EQ(good, problem[0] == '\0') << c.what << ": " << problem;
        if (!good) continue;
        EXPECT_EQ(0u, fingerprints[0].length);
        EXPECT_EQ(UINT64_MAX, fingerprints[1].length);
        EXPECT_EQ(4096u, fingerprints[2].length);
        EXPECT_EQ(0x00, fingerprints[2].sha256[0]);
        EXPECT_EQ(0xee, fingerprints[2].sha256[31]);
    }
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

TEST(MirrorListMatch, TakesOnlyTheSignedList) {
    const std::string list = "http://mirror.example.com/Quorvane/\nhttp://127.0.0.2:18760/q/\n";
    uint8_t digest[Sha256Size] = {7, 7}, other[Sha256Size] = {7, 8};
    SignatureFile named{}, unnamed{};
    named.hasMirrorList = true;
    memcpy(named.mirrorListSha256, digest, Sha256Size);
    memcpy(unnamed.mirrorListSha256, digest, Sha256Size);  // format 2 names no list, whatever the bytes say
    const std::string bad = "ftp://mirror.example.com/\n";
    const struct {
        const std::string* text;
        const uint8_t* digest;
        const SignatureFile* signature;
        const char* problem;  // null: accepted
    } cases[] = {
        {&list, digest, &named, nullptr},
        {&list, other, &named, "is not the one the signature names"},
        {&list, digest, &unnamed, "is not named by the signature"},
        {&bad, digest, &named, "line 1: ftp://mirror.example.com/ does not start with http://"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> bases = {"left over"};
        char problem[200] = "";
        bool matched = MatchMirrorList(c.text->data(), c.text->size(), c.digest, *c.signature, &bases, problem,
                                       sizeof problem);
        EXPECT_EQ(c.problem == nullptr, matched) << *c.text;
        if (c.problem) {
            EXPECT_STREQ(c.problem, problem);
            EXPECT_TRUE(bases.empty());
        } else {
            EXPECT_EQ((std::vector<std::string>{"http://mirror.example.com/Quorvane/", "http://127.0.0.2:18760/q/"}),
                      bases);
        }
    }
}
