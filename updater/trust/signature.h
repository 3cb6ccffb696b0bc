// Signed manifest: the update.cfg.sig reader and writer, the signed statement, the file listing that carries every
// file's SHA-256 and length, and the decision whether a manifest is used; portable, main thread at start-up (and the
// publisher tool).
//
// update.cfg.sig is seven lines of ASCII text, each ended by one LF:
//
//   quorvane-manifest-signature 2
//   key <16 hexadecimal digits: the signing key's id, the first 8 bytes of its X coordinate>
//   sha256 <64 hexadecimal digits: SHA-256 of the exact bytes of update.cfg>
//   files <64 hexadecimal digits: SHA-256 of the exact bytes of update.cfg.files>
//   version <decimal, 0 .. 2^64-1: grows with every publication>
//   expires <decimal seconds since 1970-01-01 UTC, or "none">
//   signature <base64 of the 64-byte ECDSA P-256 signature r || s, 88 characters>
//
// The signed statement is every line but the last, byte for byte; the signature is over their SHA-256.
// Version 1 files (no key, no files line) are refused: they leave the files open to SHA-1 collisions.
//
// A folder with a mirror list (update.cfg.mirrors, updater/net/mirror_list.h) is signed in format 3: the header
// line says 3, and one more line follows the files line, so that the statement is seven lines:
//
//   quorvane-manifest-signature 3
//   key ... / sha256 ... / files ...      (as above)
//   mirrors <64 hexadecimal digits: SHA-256 of the exact bytes of update.cfg.mirrors>
//   version ... / expires ... / signature ...
//
// The header is signed, so format 3 cannot be passed off as 2 (dropping the mirrors) or the other way round.
// Launchers of format 2 alone refuse format 3: publish a mirror list once players run a launcher that reads it.
// A format 2 file names no mirror list: a launcher then uses none, whatever update.cfg.mirrors is served.
//
// update.cfg.files has one line per entry of update.cfg, in the same order, each ended by one LF:
//
//   <path, byte for byte as in update.cfg> <SHA-256 of the file, 64 hexadecimal digits> <length in bytes, decimal>
//
// update.cfg keeps its own form, so unsigned launchers read it as before; the signature binds the listing, and the
// listing binds every file's content beyond its SHA-1.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "updater/manifest.h"
#include "updater/net/mirror_list.h"
#include "updater/trust/file_fingerprint.h"
#include "updater/trust/sha256.h"

enum {
    PublicKeySize = 64,  // X || Y of a P-256 point, big-endian
    SignatureSize = 64,  // r || s, big-endian
    KeyIdSize = 8,       // the first bytes of the key's X coordinate
    // A launcher knows at most this many publisher keys at once: the current one and those being rotated in or out.
    MaxManifestKeys = 4,
    // The eight lines of format 3 take at most 30 + 21 + 72 + 71 + 73 + 29 + 29 + 99 = 424 bytes; anything longer
    // is not a signature file.
    MaxSignatureFileSize = 512,
    // A listing line: a path of at most 199 characters, a blank, 64 digits, a blank, 20 digits and the LF.
    MaxFileListingLine = (PathSlotSize - 1) + 1 + 2 * Sha256Size + 1 + 20 + 1,
    MaxFileListingSize = MaxManifestEntries * MaxFileListingLine,
};

#define SignatureFileName "update.cfg.sig"
// Published beside update.cfg and its signature; manifest paths may not name it (MatchFileListing).
#define FileListingName "update.cfg.files"
// The highest manifest version this game folder has accepted, one decimal line; written only after acceptance.
#define AcceptedVersionFileName "Launcher_manifest_version.txt"

struct SignatureFile {
    uint8_t keyId[KeyIdSize];
    uint8_t manifestSha256[Sha256Size];
    uint8_t listingSha256[Sha256Size];  // of update.cfg.files
    bool hasMirrorList;                 // format 3: the signature names a mirror list
    uint8_t mirrorListSha256[Sha256Size];  // of update.cfg.mirrors, when hasMirrorList
    uint64_t version;
    uint64_t expires;  // seconds since 1970-01-01 UTC; 0 when the signature never expires
    uint8_t signature[SignatureSize];
    size_t statementLength;  // the signed statement is the file's first statementLength bytes
};

// Reads a signature file. Returns null when it is well formed, else a short text saying what is wrong.
const char* ReadSignatureFile(const char* text, size_t length, SignatureFile* file);

// Writes the signed statement (every line but the signature) of fields' key id, digests, version and expiry into
// buffer, in format 3 when fields.hasMirrorList, else 2; returns its length, 0 when it does not fit.
size_t FormatSignatureStatement(char* buffer, size_t size, const SignatureFile& fields);

// The id that names a public key in the signature file: the first KeyIdSize bytes of X. Keys are points a publisher
// made at random, so their ids differ; the id only selects the key, the signature still has to verify with it.
void ManifestKeyId(const uint8_t publicKey[PublicKeySize], uint8_t id[KeyIdSize]);

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
    // "Manifest refused: signed with key %s, which this launcher does not know; a newer launcher is needed"
    ManifestUnknownKey,
    // A valid signature of another update.cfg (a cache may hold an older or newer copy of one of the two); logged
    // as a signature that is not valid, once fetching the list again could not mend it.
    ManifestOtherList,
};

// Decides whether a downloaded manifest is used. signatureText is null when no signature file arrived.
// publicKeys: the keyCount keys this launcher trusts; the signature file's key id picks the one it is checked with,
// and an id none of them has is a signature that is not valid.
// acceptedVersion: the highest version this game folder accepted before (0 when none); now: seconds since 1970 UTC.
// file receives what was read, for the refusal line, for recording the version and for MatchFileListing.
ManifestVerdict CheckManifestSignature(const char* signatureText, size_t signatureLength,
                                       const uint8_t manifestSha256[Sha256Size],
                                       const uint8_t (*publicKeys)[PublicKeySize], int keyCount,
                                       SignatureVerifier verify, uint64_t acceptedVersion, int64_t now,
                                       SignatureFile* file);


// Checks update.cfg.files (text, length bytes, whose SHA-256 the caller computed as textSha256) against an accepted
// signature file and the manifest's entries (entries[i] for i < count, as LoadManifest read them): the
// listing must be the one signed, be well formed, and list exactly the manifest's paths in the manifest's order;
// every manifest digest must be 40 hexadecimal digits, and no path may name update.cfg, its signature or its listing.
// On success fills fingerprints[0 .. count) and returns true; otherwise writes what is wrong into problem (bounded
// by problemSize) and returns false. A launcher then logs "Manifest refused: update.cfg.files <problem>".
bool MatchFileListing(const char* text, size_t length, const uint8_t textSha256[Sha256Size],
                      const SignatureFile& signature, const ManifestEntry* entries, int count,
                      FileFingerprint* fingerprints, char* problem, size_t problemSize);

// Checks update.cfg.mirrors (text, length bytes, whose SHA-256 the caller computed as textSha256) against an accepted
// signature file: the signature must name a mirror list and this one, and the list must read (ReadMirrorList). Fills
// bases and returns true; otherwise writes what is wrong into problem (bounded by problemSize), leaves bases empty
// and returns false. A launcher then logs "Mirror list refused: update.cfg.mirrors <problem>" and uses its own
// hosts alone; the file list itself stays accepted, since every file is still checked against it.
bool MatchMirrorList(const char* text, size_t length, const uint8_t textSha256[Sha256Size],
                     const SignatureFile& signature, std::vector<std::string>* bases, char* problem,
                     size_t problemSize);

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
// built-in keys. On acceptance fills accepted with what the signature says and returns true; the version is not
// recorded yet, since the listing may still refuse the manifest. Otherwise logs the refusal line and returns false.
// When the signature is valid but names another list, refetchList (when given) is asked once to fetch the list
// again under the digest the signature names; the check is then made again on what it fetched.
bool AcceptSignedManifest(const uint8_t (*publicKeys)[PublicKeySize], int keyCount, bool signatureFetched,
                          SignatureFile* accepted,
                          const std::function<bool(const uint8_t listSha256[Sha256Size])>& refetchList = nullptr);
// Records version as the highest this game folder accepted, unless a higher one is recorded already.
void RecordAcceptedVersion(uint64_t version);
#endif
