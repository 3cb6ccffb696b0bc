// A signed build uses a file list only when its signature, fetched beside it, passes the check with
// a key built into the program, and the signed listing gives every entry its SHA-256 and length;
// main thread, at start-up.
#include <stdio.h>
#include <string.h>

#include <string>

#include "common/file.h"
#include "common/log.h"
#include "common/text.h"
#include "manifest_key.h"
#include "updater/net/downloader.h"
#include "updater/manifest.h"
#include "updater/trust/manifest_trust.h"
#include "updater/trust/sha256.h"
#include "updater/trust/signature.h"

namespace {

// What the accepted signature says, kept from the signature check to the listing's.
SignatureFile AcceptedSignature;
bool ListingFetched;

// Fetches path once more under a query that names the digest the signature gives it: a cache that ignored the
// publisher's no-cache advice and holds another copy under the plain URL has never seen this one.
bool FetchNamedCopy(const char* path, uint64_t maxBytes, const uint8_t sha256[Sha256Size]) {
    char query[8 + 2 * Sha256Size + 1] = "sha256=";
    EncodeHex(sha256, Sha256Size, query + 7);
    return DownloadFile(path, maxBytes, query);
}

void DigestOf(const std::string& text, uint8_t digest[Sha256Size]) {
    Sha256 state;
    Sha256Init(state);
    Sha256Update(state, text.data(), text.size());
    Sha256Finish(state, digest);
}

// Reads the fetched listing whole: at most MaxFileListingSize bytes (1000 lines); a longer one keeps one byte
// more, which the match refuses.
bool ReadListing(std::string& text) {
    return ReadSmallFile(FileListingName, MaxFileListingSize, text) || text.size() > MaxFileListingSize;
}

// Reads, digests and matches the fetched listing against the list's entries; false with problem filled otherwise.
bool MatchFetchedListing(const Manifest& manifest, std::vector<FileFingerprint>& fingerprints, char* problem,
                         size_t problemSize) {
    if (!ListingFetched) {
        snprintf(problem, problemSize, "could not be downloaded");
        return false;
    }
    std::string text;
    if (!ReadListing(text)) {
        snprintf(problem, problemSize, "could not be read");
        return false;
    }
    uint8_t digest[Sha256Size];
    DigestOf(text, digest);
    if (memcmp(digest, AcceptedSignature.listingSha256, Sha256Size) != 0 &&
        FetchNamedCopy(FileListingName, MaxFileListingSize, AcceptedSignature.listingSha256)) {
        text.clear();
        if (!ReadListing(text)) {
            snprintf(problem, problemSize, "could not be read");
            return false;
        }
        DigestOf(text, digest);
    }
    const int count = (int)manifest.entries.size();
    fingerprints.assign(count, FileFingerprint{});
    return MatchFileListing(text.data(), text.size(), digest, AcceptedSignature, manifest.entries.data(), count,
                            fingerprints.data(), problem, problemSize);
}

}  // namespace

void PrepareManifestFetch() {
    remove("update.cfg");
    remove(SignatureFileName);
    remove(FileListingName);
    remove(MirrorListName);
    AcceptedSignature = SignatureFile{};
}

bool ManifestTrusted(bool manifestFetched) {
    // Without a list there is nothing to refuse: the run says the list could not be downloaded.
    if (!manifestFetched) return true;
    bool signatureFetched = DownloadFile(SignatureFileName, MaxSignatureBytes);
    auto refetchList = [](const uint8_t sha256[Sha256Size]) {
        return FetchNamedCopy("update.cfg", MaxManifestBytes, sha256);
    };
    bool accepted = AcceptSignedManifest(ManifestPublicKeys, ManifestPublicKeyCount, signatureFetched,
                                         &AcceptedSignature, refetchList);
    remove(SignatureFileName);
    // The listing is fetched only for a list whose signature names it; it is matched once the list is read.
    ListingFetched = accepted && DownloadFile(FileListingName, MaxFileListingSize);
    return accepted;
}

bool ManifestEntriesTrusted(const Manifest& manifest, std::vector<FileFingerprint>& fingerprints) {
    char problem[LogFileLineSize];
    bool matched = MatchFetchedListing(manifest, fingerprints, problem, sizeof problem);
    remove(FileListingName);
    if (!matched) {
        fingerprints.clear();
        snprintf(LogMessageBuffer, LogMessageBufferSize, "Manifest refused: update.cfg.files %s", problem);
        LogLine(LogMessageBuffer);
        return false;
    }
    // Only a list that passed both checks raises the version this folder accepts.
    RecordAcceptedVersion(AcceptedSignature.version);
    return true;
}

std::vector<std::string> TrustedMirrors() {
    std::vector<std::string> bases, lines;
    // A format 2 signature names no mirror list: none is asked for, whatever the host serves.
    if (!AcceptedSignature.hasMirrorList) return bases;
    char problem[LogFileLineSize] = "could not be downloaded";
    std::string text;
    bool matched = false;
    auto read = [&] {
        text.clear();
        return ReadSmallFile(MirrorListName, MaxMirrorListSize, text) || text.size() > MaxMirrorListSize;
    };
    if (DownloadFile(MirrorListName, MaxMirrorListSize, nullptr, &lines)) {
        uint8_t digest[Sha256Size];
        bool readable = read();
        if (readable) DigestOf(text, digest);
        // A cache on the way may hold another copy: asked once more under the digest the signature names.
        if (readable && memcmp(digest, AcceptedSignature.mirrorListSha256, Sha256Size) != 0) {
            char query[8 + 2 * Sha256Size + 1] = "sha256=";
            EncodeHex(AcceptedSignature.mirrorListSha256, Sha256Size, query + 7);
            if (DownloadFile(MirrorListName, MaxMirrorListSize, query, &lines) && (readable = read())) {
                DigestOf(text, digest);
            }
        }
        if (!readable) snprintf(problem, sizeof problem, "could not be read");
        matched = readable && MatchMirrorList(text.data(), text.size(), digest, AcceptedSignature, &bases, problem,
                                              sizeof problem);
    }
    remove(MirrorListName);
    if (!matched) {
        bases.clear();
        snprintf(LogMessageBuffer, LogMessageBufferSize, "Mirror list refused: " MirrorListName " %s", problem);
        LogLine(LogMessageBuffer);
    }
    return bases;
}
