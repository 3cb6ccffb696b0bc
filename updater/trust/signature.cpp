// Signed manifest: reads and writes update.cfg.sig, matches update.cfg.files with the manifest and decides whether
// a manifest is used; portable, main thread.
#include "updater/trust/signature.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "common/text.h"
#include "updater/net/downloader.h"

namespace {

// Format 2 binds the list and its listing; format 3 adds the mirror list. A publisher writes 3 only for a folder
// with a mirror list, so that launchers that know only 2 keep taking every folder without one.
const char FirstLine[] = "quorvane-manifest-signature 2\n";
const char FirstLineWithMirrors[] = "quorvane-manifest-signature 3\n";
const char Base64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    const char* at = c ? strchr(Base64Digits, c) : nullptr;
    return at ? (int)(at - Base64Digits) : -1;
}

// Strict base64: padded, no line breaks, and the unused low bits of the last digit zero, so that one
// signature has one spelling.
bool DecodeBase64(const char* text, size_t length, uint8_t* out, size_t outSize) {
    if (length != (outSize + 2) / 3 * 4) return false;
    size_t padding = outSize % 3 == 0 ? 0 : 3 - outSize % 3;
    size_t written = 0;
    for (size_t i = 0; i < length; i += 4) {
        uint32_t group = 0;
        for (size_t j = 0; j < 4; ++j) {
            bool padded = i + j >= length - padding;
            int value = padded ? (text[i + j] == '=' ? 0 : -1) : Base64Value(text[i + j]);
            if (value < 0) return false;
            group = group << 6 | (uint32_t)value;
        }
        for (int shift = 16; shift >= 0 && written < outSize; shift -= 8) out[written++] = (uint8_t)(group >> shift);
        if (i + 4 == length && padding && (group & ((1u << (8 * padding)) - 1)) != 0) return false;
    }
    return true;
}

size_t EncodeBase64(const uint8_t* data, size_t size, char* out) {
    size_t n = 0;
    for (size_t i = 0; i < size; i += 3) {
        uint32_t group = (uint32_t)data[i] << 16;
        if (i + 1 < size) group |= (uint32_t)data[i + 1] << 8;
        if (i + 2 < size) group |= data[i + 2];
        out[n++] = Base64Digits[group >> 18 & 63];
        out[n++] = Base64Digits[group >> 12 & 63];
        out[n++] = i + 1 < size ? Base64Digits[group >> 6 & 63] : '=';
        out[n++] = i + 2 < size ? Base64Digits[group & 63] : '=';
    }
    out[n] = '\0';
    return n;
}

// Decimal without sign or leading zeros, at most 2^64 - 1: one number has one spelling.
bool ParseCanonicalDecimal(const char* text, size_t length, uint64_t* value) {
    if (length > 1 && text[0] == '0') return false;
    return ParseDecimal(text, length, UINT64_MAX, value);
}

// Takes the next line "<key> <value>\n"; false when the line is missing, has another key or has no LF.
bool TakeField(const char*& at, const char* end, const char* key, const char** value, size_t* valueLength) {
    size_t keyLength = strlen(key);
    const char* lineEnd = (const char*)memchr(at, '\n', (size_t)(end - at));
    if (!lineEnd || (size_t)(lineEnd - at) < keyLength + 1 || memcmp(at, key, keyLength) != 0 ||
        at[keyLength] != ' ') {
        return false;
    }
    *value = at + keyLength + 1;
    *valueLength = (size_t)(lineEnd - *value);
    at = lineEnd + 1;
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's civil-date algorithms).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = (unsigned)(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (int64_t)doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* year, unsigned* month, unsigned* day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = (unsigned)(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *day = doy - (153 * mp + 2) / 5 + 1;
    *month = mp < 10 ? mp + 3 : mp - 9;
    *year = (int64_t)yoe + era * 400 + (*month <= 2);
}

// True when path is, or lies inside, one of the files a signed launcher fetches beside the manifest; Windows
// compares names without regard to case.
bool NamesPublishedFile(const char* path) {
    static const char* const Names[] = {"update.cfg", SignatureFileName, FileListingName, MirrorListName};
    size_t first = strcspn(path, "/\\");
    for (const char* name : Names) {
        if (strlen(name) != first) continue;
        size_t i = 0;
        while (i < first && tolower((unsigned char)path[i]) == name[i]) ++i;
        if (i == first) return true;
    }
    return false;
}

}  // namespace

const char* ReadSignatureFile(const char* text, size_t length, SignatureFile* file) {
    memset(file, 0, sizeof *file);
    if (length > MaxSignatureFileSize) return "longer than a signature file can be";
    if (memchr(text, '\0', length) || memchr(text, '\r', length)) return "holds a NUL or CR character";
    const char* at = text;
    const char* end = text + length;
    const size_t firstLength = sizeof FirstLine - 1;  // both header lines have this length
    if (length >= firstLength && memcmp(text, FirstLineWithMirrors, firstLength) == 0) {
        file->hasMirrorList = true;
    } else if (length < firstLength || memcmp(text, FirstLine, firstLength) != 0) {
        return "does not start with its header line";
    }
    at += firstLength;

    const char* value;
    size_t valueLength;
    if (!TakeField(at, end, "key", &value, &valueLength)) return "no key line";
    if (!DecodeHex(value, valueLength, file->keyId, KeyIdSize)) return "key is not 16 hexadecimal digits";
    if (!TakeField(at, end, "sha256", &value, &valueLength)) return "no sha256 line";
    if (!DecodeHex(value, valueLength, file->manifestSha256, Sha256Size)) return "sha256 is not 64 hexadecimal digits";
    if (!TakeField(at, end, "files", &value, &valueLength)) return "no files line";
    if (!DecodeHex(value, valueLength, file->listingSha256, Sha256Size)) return "files is not 64 hexadecimal digits";
    if (file->hasMirrorList) {
        if (!TakeField(at, end, "mirrors", &value, &valueLength)) return "no mirrors line";
        if (!DecodeHex(value, valueLength, file->mirrorListSha256, Sha256Size)) {
            return "mirrors is not 64 hexadecimal digits";
        }
    }
    if (!TakeField(at, end, "version", &value, &valueLength)) return "no version line";
    if (!ParseCanonicalDecimal(value, valueLength, &file->version)) return "version is not a decimal number";
    if (!TakeField(at, end, "expires", &value, &valueLength)) return "no expires line";
    if (!(valueLength == 4 && memcmp(value, "none", 4) == 0)) {
        if (!ParseCanonicalDecimal(value, valueLength, &file->expires) || file->expires == 0) {
            return "expires is neither \"none\" nor a decimal number of seconds";
        }
    }
    file->statementLength = (size_t)(at - text);
    if (!TakeField(at, end, "signature", &value, &valueLength)) return "no signature line";
    if (!DecodeBase64(value, valueLength, file->signature, SignatureSize)) {
        return "signature is not 64 bytes in base64";
    }
    if (at != end) return "text after the signature line";
    return nullptr;
}

size_t FormatSignatureStatement(char* buffer, size_t size, const SignatureFile& fields) {
    char key[2 * KeyIdSize + 1], manifest[2 * Sha256Size + 1], listing[2 * Sha256Size + 1];
    EncodeHex(fields.keyId, KeyIdSize, key);
    EncodeHex(fields.manifestSha256, Sha256Size, manifest);
    EncodeHex(fields.listingSha256, Sha256Size, listing);
    char mirrors[8 + 2 * Sha256Size + 2] = "";  // "mirrors ", the digits, the LF and the terminator
    if (fields.hasMirrorList) {
        char digits[2 * Sha256Size + 1];
        EncodeHex(fields.mirrorListSha256, Sha256Size, digits);
        snprintf(mirrors, sizeof mirrors, "mirrors %s\n", digits);
    }
    char expiresText[24] = "none";
    if (fields.expires) snprintf(expiresText, sizeof expiresText, "%llu", (unsigned long long)fields.expires);
    int n = snprintf(buffer, size, "%skey %s\nsha256 %s\nfiles %s\n%sversion %llu\nexpires %s\n",
                     fields.hasMirrorList ? FirstLineWithMirrors : FirstLine, key, manifest, listing, mirrors,
                     (unsigned long long)fields.version, expiresText);
    return n > 0 && (size_t)n < size ? (size_t)n : 0;
}

void ManifestKeyId(const uint8_t publicKey[PublicKeySize], uint8_t id[KeyIdSize]) { memcpy(id, publicKey, KeyIdSize); }

size_t FormatSignatureFile(char* buffer, size_t size, const char* statement, size_t statementLength,
                           const uint8_t signature[SignatureSize]) {
    char base64[(SignatureSize + 2) / 3 * 4 + 1];
    EncodeBase64(signature, SignatureSize, base64);
    int n = snprintf(buffer, size, "%.*ssignature %s\n", (int)statementLength, statement, base64);
    return n > 0 && (size_t)n < size ? (size_t)n : 0;
}

ManifestVerdict CheckManifestSignature(const char* signatureText, size_t signatureLength,
                                       const uint8_t manifestSha256[Sha256Size],
                                       const uint8_t (*publicKeys)[PublicKeySize], int keyCount,
                                       SignatureVerifier verify, uint64_t acceptedVersion, int64_t now,
                                       SignatureFile* file) {
    memset(file, 0, sizeof *file);
    if (!signatureText) return ManifestNoSignature;
    if (ReadSignatureFile(signatureText, signatureLength, file)) return ManifestBadSignature;
    bool known = false, verified = false;
    for (int i = 0; i < keyCount && !verified; ++i) {
        uint8_t id[KeyIdSize];
        ManifestKeyId(publicKeys[i], id);
        if (memcmp(id, file->keyId, KeyIdSize) != 0) continue;
        known = true;
        verified = verify(publicKeys[i], signatureText, file->statementLength, file->signature);
    }
    // A key this launcher was not built with: the publisher has moved to a key that came after it.
    if (!known) return ManifestUnknownKey;
    if (!verified) return ManifestBadSignature;
    if (memcmp(file->manifestSha256, manifestSha256, Sha256Size) != 0) return ManifestOtherList;
    if (file->version < acceptedVersion) return ManifestOlder;
    if (file->expires && (now < 0 || (uint64_t)now >= file->expires)) return ManifestExpired;
    return ManifestAccepted;
}

bool MatchFileListing(const char* text, size_t length, const uint8_t textSha256[Sha256Size],
                      const SignatureFile& signature, const ManifestEntry* entries, int count,
                      FileFingerprint* fingerprints, char* problem, size_t problemSize) {
    if (length > MaxFileListingSize) return Refuse(problem, problemSize, "is longer than %d bytes", MaxFileListingSize);
    if (memcmp(textSha256, signature.listingSha256, Sha256Size) != 0) {
        return Refuse(problem, problemSize, "is not the one the signature names");
    }
    if (memchr(text, '\0', length) || memchr(text, '\r', length)) {
        return Refuse(problem, problemSize, "holds a NUL or CR character");
    }
    const char* at = text;
    const char* end = text + length;
    int line = 0;
    for (; at < end; ++line) {
        const char* lineEnd = (const char*)memchr(at, '\n', (size_t)(end - at));
        if (!lineEnd) return Refuse(problem, problemSize, "line %d has no line end", line + 1);
        if (line == count) return Refuse(problem, problemSize, "lists more files than the %d of update.cfg", count);
        // "<path> <64 digits> <length>": manifest paths hold no blank, so the first blank ends the path.
        const char* blank = (const char*)memchr(at, ' ', (size_t)(lineEnd - at));
        const char* lengthText = nullptr;
        if (blank && (size_t)(lineEnd - blank) >= 2 + 2 * Sha256Size && blank[1 + 2 * Sha256Size] == ' ') {
            lengthText = blank + 2 + 2 * Sha256Size;
        }
        FileFingerprint& fingerprint = fingerprints[line];
        if (!lengthText ||
            !DecodeHex(blank + 1, 2 * Sha256Size, fingerprint.sha256, Sha256Size) ||
            !ParseCanonicalDecimal(lengthText, (size_t)(lineEnd - lengthText), &fingerprint.length)) {
            return Refuse(problem, problemSize, "line %d is not \"<path> <SHA-256> <length>\"", line + 1);
        }
        size_t pathLength = (size_t)(blank - at);
        if (strlen(entries[line].path) != pathLength || memcmp(entries[line].path, at, pathLength) != 0) {
            int shown = (int)(pathLength < (size_t)PathSlotSize ? pathLength : (size_t)PathSlotSize);
            return Refuse(problem, problemSize, "line %d names %.*s where update.cfg has %s", line + 1, shown, at,
                          entries[line].path);
        }
        // A digest that cannot be compared would have the file downloaded at every start, unchecked.
        if (!IsHexDigest40(entries[line].digest)) {
            return Refuse(problem, problemSize, "line %d: update.cfg gives %s a digest that is not 40 hexadecimal "
                          "digits", line + 1, entries[line].path);
        }
        if (NamesPublishedFile(entries[line].path)) {
            return Refuse(problem, problemSize, "line %d: %s is a name the launcher fetches beside update.cfg",
                          line + 1, entries[line].path);
        }
        at = lineEnd + 1;
    }
    if (line < count) return Refuse(problem, problemSize, "lists %d files, update.cfg %d", line, count);
    return true;
}

void FormatRefusalLine(char* buffer, size_t size, ManifestVerdict verdict, const SignatureFile& file,
                       uint64_t acceptedVersion) {
    char date[32];
    switch (verdict) {
    case ManifestAccepted: snprintf(buffer, size, "%s", ""); return;
    case ManifestNoSignature: snprintf(buffer, size, "Manifest refused: no signature"); return;
    case ManifestBadSignature:
    case ManifestOtherList: snprintf(buffer, size, "Manifest refused: the signature is not valid"); return;
    case ManifestUnknownKey: {
        char key[2 * KeyIdSize + 1];
        EncodeHex(file.keyId, KeyIdSize, key);
        snprintf(buffer, size,
                 "Manifest refused: signed with key %s, which this launcher does not know; a newer launcher is needed",
                 key);
        return;
    }
    case ManifestOlder: {
        char version[24], installed[24];
        snprintf(version, sizeof version, "%llu", (unsigned long long)file.version);
        snprintf(installed, sizeof installed, "%llu", (unsigned long long)acceptedVersion);
        snprintf(buffer, size, "Manifest refused: version %s is older than the installed version %s", version,
                 installed);
        return;
    }
    case ManifestExpired:
        // Expiry times beyond any calendar the log could show are clamped; they never expire in practice.
        FormatUtcDate(date, sizeof date, file.expires > (uint64_t)INT64_MAX / 2 ? INT64_MAX / 2 : (int64_t)file.expires);
        snprintf(buffer, size, "Manifest refused: it expired on %s", date);
        return;
    }
}

void FormatUtcDate(char* buffer, size_t size, int64_t seconds) {
    int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    int64_t year;
    unsigned month, day;
    CivilFromDays(days, &year, &month, &day);
    snprintf(buffer, size, "%04lld-%02u-%02u", (long long)year, month, day);
}

bool ParseUtcDate(const char* text, int64_t* seconds) {
    if (strlen(text) != 10 || text[4] != '-' || text[7] != '-') return false;
    for (int i = 0; i < 10; ++i) {
        if (i != 4 && i != 7 && (text[i] < '0' || text[i] > '9')) return false;
    }
    unsigned year = (unsigned)((text[0] - '0') * 1000 + (text[1] - '0') * 100 + (text[2] - '0') * 10 + text[3] - '0');
    unsigned month = (unsigned)((text[5] - '0') * 10 + text[6] - '0');
    unsigned day = (unsigned)((text[8] - '0') * 10 + text[9] - '0');
    if (month < 1 || month > 12 || day < 1 || day > 31) return false;
    int64_t days = DaysFromCivil(year, month, day);
    // A day that does not exist (2023-02-30) comes back as another date.
    int64_t checkYear;
    unsigned checkMonth, checkDay;
    CivilFromDays(days, &checkYear, &checkMonth, &checkDay);
    if (checkYear != year || checkMonth != month || checkDay != day) return false;
    *seconds = days * 86400;
    return true;
}

bool ReadPublicKeyText(const char* text, size_t length, uint8_t publicKey[PublicKeySize]) {
    const char* at = text;
    const char* end = text + length;
    bool found = false;
    while (at < end) {
        const char* lineEnd = (const char*)memchr(at, '\n', (size_t)(end - at));
        if (!lineEnd) lineEnd = end;
        size_t lineLength = (size_t)(lineEnd - at);
        if (lineLength && at[lineLength - 1] == '\r') --lineLength;
        if (lineLength && at[0] != '#') {
            if (found || !DecodeHex(at, lineLength, publicKey, PublicKeySize)) return false;
            found = true;
        }
        at = lineEnd + 1;
    }
    return found;
}

size_t FormatPublicKeyText(char* buffer, size_t size, const uint8_t publicKey[PublicKeySize]) {
    char hex[2 * PublicKeySize + 1];
    EncodeHex(publicKey, PublicKeySize, hex);
    int n = snprintf(buffer, size,
                     "# Quorvane manifest public key: ECDSA P-256, the point's X then Y in hexadecimal.\n"
                     "# Build the launcher with -DLAUNCHER_MANIFEST_KEY=<this file>.\n%s\n",
                     hex);
    return n > 0 && (size_t)n < size ? (size_t)n : 0;
}

bool ParseAcceptedVersion(const char* text, size_t length, uint64_t* version) {
    while (length && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
    return ParseCanonicalDecimal(text, length, version);
}

bool MatchMirrorList(const char* text, size_t length, const uint8_t textSha256[Sha256Size],
                     const SignatureFile& signature, std::vector<std::string>* bases, char* problem,
                     size_t problemSize) {
    bases->clear();
    if (!signature.hasMirrorList) return Refuse(problem, problemSize, "is not named by the signature");
    if (memcmp(textSha256, signature.mirrorListSha256, Sha256Size) != 0) {
        return Refuse(problem, problemSize, "is not the one the signature names");
    }
    return ReadMirrorList(text, length, bases, problem, problemSize);
}
