// CNG half of the signed manifest: SHA-256, ECDSA P-256 verification and the start-up check; main thread.
#include "updater/trust/signature.h"

#include <windows.h>
#include <bcrypt.h>

#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>

#include "common/file.h"
#include "common/log.h"
#include "common/text.h"

namespace {

// The hash is taken in steps (BCryptCreateHash, BCryptHashData, BCryptFinishHash), which every Windows since
// Vista has; the one-call BCryptHash exists only from Windows 10 on, and importing it would keep the launcher
// from starting at all on the older systems it supports.
class CngSha256 {
public:
    CngSha256() {
        if (BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
            algorithm_ = nullptr;
            return;
        }
        // Vista needs the caller to supply the hash object; its size is asked for, and the fixed buffer is far
        // larger than any SHA-256 object of CNG (a few hundred bytes).
        DWORD objectSize = 0;
        ULONG got = 0;
        if (BCryptGetProperty(algorithm_, BCRYPT_OBJECT_LENGTH, (PUCHAR)&objectSize, sizeof objectSize, &got, 0) != 0 ||
            objectSize > sizeof object_ ||
            BCryptCreateHash(algorithm_, &hash_, object_, objectSize, nullptr, 0, 0) != 0) {
            hash_ = nullptr;
        }
    }
    ~CngSha256() {
        if (hash_) BCryptDestroyHash(hash_);
        if (algorithm_) BCryptCloseAlgorithmProvider(algorithm_, 0);
    }
    bool Add(const void* data, size_t length) {
        ok_ = ok_ && hash_ && BCryptHashData(hash_, (PUCHAR)data, (ULONG)length, 0) == 0;
        return ok_;
    }
    bool Finish(uint8_t out[Sha256Size]) { return ok_ && hash_ && BCryptFinishHash(hash_, out, Sha256Size, 0) == 0; }

private:
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
    UCHAR object_[2048];
    bool ok_ = true;
};

// Replaces the accepted-version file in one step, so it never holds half a number.
void WriteAcceptedVersion(uint64_t version) {
    char text[24];
    int length = snprintf(text, sizeof text, "%llu\n", (unsigned long long)version);
    ReplaceFileContents(AcceptedVersionFileName, text, (size_t)length);
}

// The highest version this folder accepted; a missing or unreadable record counts as none (0).
uint64_t ReadAcceptedVersion(bool* recorded) {
    std::string versionText;
    uint64_t accepted = 0;
    *recorded = ReadSmallFile(AcceptedVersionFileName, 31, versionText) &&
                ParseAcceptedVersion(versionText.data(), versionText.size(), &accepted);
    return *recorded ? accepted : 0;
}

}  // namespace

bool Sha256OfBytes(const void* data, size_t length, uint8_t out[Sha256Size]) {
    CngSha256 hash;
    return hash.Add(data, length) && hash.Finish(out);
}

bool Sha256OfFile(const char* path, uint8_t out[Sha256Size]) {
    FILE* file = fopen(path, "rb");
    if (!file) return false;
    CngSha256 hash;
    static char block[64 * 1024];  // main thread only
    size_t got;
    bool ok = true;
    while (ok && (got = fread(block, 1, sizeof block, file)) > 0) ok = hash.Add(block, got);
    ok = ok && !ferror(file);
    fclose(file);
    return ok && hash.Finish(out);
}

bool VerifyP256Signature(const uint8_t publicKey[PublicKeySize], const void* message, size_t length,
                         const uint8_t signature[SignatureSize]) {
    uint8_t digest[Sha256Size];
    if (!Sha256OfBytes(message, length, digest)) return false;

    BCRYPT_ALG_HANDLE algorithm;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) return false;
    struct {
        BCRYPT_ECCKEY_BLOB header;
        uint8_t point[PublicKeySize];
    } blob;
    blob.header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    blob.header.cbKey = PublicKeySize / 2;
    memcpy(blob.point, publicKey, PublicKeySize);
    BCRYPT_KEY_HANDLE key;
    bool valid = false;
    // A point that is not on the curve is refused by the import.
    if (BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, (PUCHAR)&blob, sizeof blob, 0) == 0) {
        valid = BCryptVerifySignature(key, nullptr, digest, sizeof digest, (PUCHAR)signature, SignatureSize, 0) == 0;
        BCryptDestroyKey(key);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return valid;
}

void RecordAcceptedVersion(uint64_t version) {
    bool recorded;
    uint64_t accepted = ReadAcceptedVersion(&recorded);
    if (!recorded || version > accepted) WriteAcceptedVersion(version);
}

bool AcceptSignedManifest(const uint8_t (*publicKeys)[PublicKeySize], int keyCount, bool signatureFetched,
                          SignatureFile* accepted,
                          const std::function<bool(const uint8_t listSha256[Sha256Size])>& refetchList) {
    std::string signatureText;
    // A signature file too long to read whole is passed on with one byte too many, which the reader refuses.
    bool signatureRead = signatureFetched && (ReadSmallFile(SignatureFileName, MaxSignatureFileSize, signatureText) ||
                                              signatureText.size() > MaxSignatureFileSize);

    bool recorded;
    uint64_t installed = ReadAcceptedVersion(&recorded);

    uint8_t manifestDigest[Sha256Size];
    SignatureFile& file = *accepted;
    file = SignatureFile{};
    ManifestVerdict verdict = ManifestBadSignature;
    auto check = [&] {
        if (Sha256OfFile("update.cfg", manifestDigest)) {
            verdict = CheckManifestSignature(signatureText.data(), signatureText.size(), manifestDigest, publicKeys,
                                             keyCount, VerifyP256Signature, installed, (int64_t)time(nullptr), &file);
        }
    };
    if (!signatureRead) {
        verdict = ManifestNoSignature;
    } else {
        check();
        if (verdict == ManifestOtherList && refetchList) {
            uint8_t named[Sha256Size];
            memcpy(named, file.manifestSha256, Sha256Size);
            verdict = ManifestBadSignature;
            if (refetchList(named)) check();
        }
    }
    if (verdict == ManifestAccepted) return true;
    memset(LogMessageBuffer, 0, LogMessageBufferSize);
    FormatRefusalLine(LogMessageBuffer, LogMessageBufferSize, verdict, file, installed);
    LogLine(LogMessageBuffer);
    return false;
}
