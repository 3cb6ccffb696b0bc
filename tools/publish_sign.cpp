// publish_manifest's signing options and the update.cfg.sig it writes beside update.cfg; single-threaded.
#include "tools/publish_sign.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>


#include "common/file.h"
#include "common/text.h"

namespace {

bool ParseCount(const char* text, uint64_t max, uint64_t* value) {
    return ParseDecimal(text, strlen(text), max, value);
}

}  // namespace

uint64_t SignedVersionAt(const std::string& path) {
    std::string text;
    SignatureFile file;
    if (!ReadSmallFile(path.c_str(), MaxSignatureFileSize, text) || ReadSignatureFile(text.data(), text.size(), &file)) {
        return 0;
    }
    return file.version;
}

bool TakeSigningOptions(int* argc, char** argv, SigningOptions* options, std::string* error) {
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        const char* name = argv[i];
        bool known = !strcmp(name, "--make-key") || !strcmp(name, "--sign") || !strcmp(name, "--version") ||
                     !strcmp(name, "--expires-days") || !strcmp(name, "--expires");
        if (!known) {
            argv[kept++] = argv[i];
            continue;
        }
        if (i + 1 >= *argc) {
            *error = std::string(name) + " needs a value";
            return false;
        }
        const char* value = argv[++i];
        uint64_t number = 0;
        if (!strcmp(name, "--make-key")) {
            options->makeKey = value;
        } else if (!strcmp(name, "--sign")) {
            options->keyPath = value;
        } else if (!strcmp(name, "--version")) {
            if (!ParseCount(value, UINT64_MAX / 2, &number)) {
                *error = "--version takes a whole number";
                return false;
            }
            options->version = number;
            options->versionGiven = true;
        } else if (!strcmp(name, "--expires-days")) {
            // Up to a hundred years: the launcher shows the date, and nobody re-signs later than that.
            if (!ParseCount(value, 36500, &number) || number == 0) {
                *error = "--expires-days takes a number of days from 1 to 36500";
                return false;
            }
            options->expiresDays = (int64_t)number;
        } else {
            int64_t seconds;
            if (!ParseUtcDate(value, &seconds) || seconds <= 0) {
                *error = "--expires takes a date after 1970 as YYYY-MM-DD";
                return false;
            }
            options->expiresAt = seconds;
        }
    }
    argv[kept] = nullptr;
    *argc = kept;
    if ((options->versionGiven || options->expiresDays || options->expiresAt) && options->keyPath.empty()) {
        *error = "--version, --expires-days and --expires go with --sign KEY";
        return false;
    }
    if (options->expiresDays && options->expiresAt) {
        *error = "give either --expires-days or --expires";
        return false;
    }
    return true;
}

bool BuildSignatureFile(const SigningOptions& options, const std::string& manifest, const std::string& listing,
                        const std::string* mirrors, const std::string& signaturePath, std::string* text,
                        std::string* summary, std::string* error) {
    if (!SigningAvailable()) {
        *error = "signing is not available in the Windows build of publish_manifest; use the Linux build";
        return false;
    }
    const int64_t now = (int64_t)time(nullptr);
    // By default the signing time: republishing always raises it. A clock that went back is met by going one
    // past the version signed before, since the launcher refuses anything lower than what it accepted.
    uint64_t version = options.version;
    if (!options.versionGiven) {
        version = (uint64_t)now;
        uint64_t previous = SignedVersionAt(signaturePath);
        if (previous >= version) version = previous + 1;
    }
    int64_t expires = options.expiresAt ? options.expiresAt : options.expiresDays ? now + options.expiresDays * 86400 : 0;

    SignatureFile fields{};
    fields.version = version;
    fields.expires = (uint64_t)expires;
    uint8_t publicKey[PublicKeySize];
    if (!PublicKeyOfPrivateKey(options.keyPath, publicKey, error)) return false;
    ManifestKeyId(publicKey, fields.keyId);
    char statement[MaxSignatureFileSize];
    size_t statementLength = 0;
    fields.hasMirrorList = mirrors != nullptr;
    if (!Sha256Of(manifest, fields.manifestSha256) || !Sha256Of(listing, fields.listingSha256) ||
        (mirrors && !Sha256Of(*mirrors, fields.mirrorListSha256)) ||
        !(statementLength = FormatSignatureStatement(statement, sizeof statement, fields))) {
        *error = "cannot build the signed statement";
        return false;
    }
    uint8_t signature[SignatureSize];
    if (!SignStatement(options.keyPath, std::string(statement, statementLength), signature, error)) return false;
    char file[MaxSignatureFileSize + 1];
    size_t length = FormatSignatureFile(file, sizeof file, statement, statementLength, signature);
    if (!length) {
        *error = "cannot build the signature file";
        return false;
    }
    text->assign(file, length);

    char line[160];
    if (expires) {
        char date[32];
        FormatUtcDate(date, sizeof date, expires);
        snprintf(line, sizeof line, "version %llu, expires %s (UTC)%s", (unsigned long long)version, date,
                 expires <= now ? ": that has passed, so every launcher refuses it" : "; sign again before then");
    } else {
        snprintf(line, sizeof line, "version %llu, never expires", (unsigned long long)version);
    }
    char key[2 * KeyIdSize + 1];
    for (int i = 0; i < KeyIdSize; ++i) snprintf(key + 2 * i, 3, "%02x", fields.keyId[i]);
    *summary = std::string("key ") + key + ", " + line;
    return true;
}
