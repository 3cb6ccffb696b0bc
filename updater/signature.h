// Signed manifest: the update.cfg.sig reader and writer, the signed statement and the decision whether a manifest
// is used; portable, main thread at start-up (and the publisher tool).
//
// update.cfg.sig is five lines of ASCII text, each ended by one LF:
//
//   quorvane-manifest-signature 1
//   sha256 <64 hexadecimal digits: SHA-256 of the exact bytes of update.cfg>
//   version <decimal, 0 .. 2^64-1: grows with every publication>
//   expires <decimal seconds since 1970-01-01 UTC, or "none">
//   signature <base64 of the 64-byte ECDSA P-256 signature r || s, 88 characters>
//
// The signed statement is the file's first four lines, byte for byte; the signature is over their SHA-256.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "updater/sha256.h"

enum {
    PublicKeySize = 64,  // X || Y of a P-256 point, big-endian
    SignatureSize = 64,  // r || s, big-endian
    // The five lines take at most 30 + 72 + 29 + 29 + 99 = 259 bytes; anything longer is not a signature file.
    MaxSignatureFileSize = 512,
};

#define SignatureFileName "update.cfg.sig"
// The highest manifest version this game folder has accepted, one decimal line; written only after acceptance.
#define AcceptedVersionFileName "Launcher_manifest_version.txt"

struct SignatureFile {
    uint8_t manifestSha256[Sha256Size];
    uint64_t version;
    uint64_t expires;  // seconds since 1970-01-01 UTC; 0 when the signature never expires
    uint8_t signature[SignatureSize];
    size_t statementLength;  // the signed statement is the file's first statementLength bytes
};

// Reads a signature file. Returns null when it is well formed, else a short text saying what is wrong.
const char* ReadSignatureFile(const char* text, size_t length, SignatureFile* file);

// Writes the signed statement (the first four lines) into buffer; returns its length, 0 when it does not fit.
size_t FormatSignatureStatement(char* buffer, size_t size, const uint8_t manifestSha256[Sha256Size],
                                uint64_t version, uint64_t expires);

// Writes the whole signature file: statement, then the signature line. Returns its length, 0 when it does not fit.
size_t FormatSignatureFile(char* buffer, size_t size, const char* statement, size_t statementLength,
                           const uint8_t signature[SignatureSize]);

// Verifies an ECDSA P-256 signature over the SHA-256 of message with a public key. Each platform brings its own:
// CNG in the launcher (signature_win.cpp), OpenSSL in the native publisher tool.
typedef bool (*SignatureVerifier)(const uint8_t publicKey[PublicKeySize], const void* message, size_t length,
                                  const uint8_t signature[SignatureSize]);

enum ManifestVerdict {
    ManifestAccepted,
    ManifestNoSignature,   // "Manifest refused: no signature"
    ManifestBadSignature,  // "Manifest refused: the signature is not valid"
    ManifestOlder,         // "Manifest refused: version %s is older than the installed version %s"
    ManifestExpired,       // "Manifest refused: it expired on %s"
};

// Decides whether a downloaded manifest is used. signatureText is null when no signature file arrived.
// acceptedVersion: the highest version this game folder accepted before (0 when none); now: seconds since 1970 UTC.
// file receives what was read, for the refusal line and for recording the version.
ManifestVerdict CheckManifestSignature(const char* signatureText, size_t signatureLength,
                                       const uint8_t manifestSha256[Sha256Size],
                                       const uint8_t publicKey[PublicKeySize], SignatureVerifier verify,
                                       uint64_t acceptedVersion, int64_t now, SignatureFile* file);

// Formats the refusal line of a verdict other than ManifestAccepted into buffer (bounded by size).
void FormatRefusalLine(char* buffer, size_t size, ManifestVerdict verdict, const SignatureFile& file,
                       uint64_t acceptedVersion);

// "YYYY-MM-DD" of a time in seconds since 1970 UTC (proleptic Gregorian calendar).
void FormatUtcDate(char* buffer, size_t size, int64_t seconds);
// Seconds since 1970 UTC of the start of a "YYYY-MM-DD" day; false when text is not such a date.
bool ParseUtcDate(const char* text, int64_t* seconds);

// Public key file: "#" comment lines and one line of 128 hexadecimal digits (X then Y). False when malformed.
bool ReadPublicKeyText(const char* text, size_t length, uint8_t publicKey[PublicKeySize]);
size_t FormatPublicKeyText(char* buffer, size_t size, const uint8_t publicKey[PublicKeySize]);

// The accepted-version file's text: one decimal number, optionally followed by a line end. False when malformed.
bool ParseAcceptedVersion(const char* text, size_t length, uint64_t* version);

#ifdef _WIN32
// The CNG half (signature_win.cpp).
bool Sha256OfBytes(const void* data, size_t length, uint8_t out[Sha256Size]);
bool Sha256OfFile(const char* path, uint8_t out[Sha256Size]);

// A SignatureVerifier on CNG: hashes message with SHA-256 and checks the raw r || s signature with the key.
bool VerifyP256Signature(const uint8_t publicKey[PublicKeySize], const void* message, size_t length,
                         const uint8_t signature[SignatureSize]);

// Checks the downloaded "update.cfg" against "update.cfg.sig" (signatureFetched says whether that arrived) and the
// built-in key. On acceptance records the manifest's version for this game folder and returns true; otherwise logs
// the refusal line and returns false.
bool AcceptSignedManifest(const uint8_t publicKey[PublicKeySize], bool signatureFetched);
#endif
