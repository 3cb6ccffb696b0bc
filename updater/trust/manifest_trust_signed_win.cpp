// A signed build uses a file list only when its signature, fetched beside it, passes the check with
// a key built into the program, and the signed listing gives every entry its SHA-256 and length;
// main thread, at start-up.
#include <stdio.h>

#include <string>

#include "common/file.h"
#include "common/log.h"
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

// Reads, digests and matches the fetched listing against the list's entries; false with problem filled otherwise.
bool MatchFetchedListing(const Manifest& manifest, std::vector<FileFingerprint>& fingerprints, char* problem,
                         size_t problemSize) {
    if (!ListingFetched) {
        snprintf(problem, problemSize, "could not be downloaded");
        return false;
    }
    // At most MaxFileListingSize bytes (1000 lines); a longer listing keeps one byte more, which the match refuses.
    std::string text;
    if (!ReadSmallFile(FileListingName, MaxFileListingSize, text) && text.size() <= MaxFileListingSize) {
        snprintf(problem, problemSize, "could not be read");
        return false;
    }
    Sha256 state;
    uint8_t digest[Sha256Size];
    Sha256Init(state);
    Sha256Update(state, text.data(), text.size());
    Sha256Finish(state, digest);
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
}

bool ManifestTrusted(bool manifestFetched) {
    // Without a list there is nothing to refuse: the run says the list could not be downloaded.
    if (!manifestFetched) return true;
    bool signatureFetched = DownloadFile(SignatureFileName, MaxSignatureBytes);
    bool accepted = AcceptSignedManifest(ManifestPublicKeys, ManifestPublicKeyCount, signatureFetched,
                                         &AcceptedSignature);
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
