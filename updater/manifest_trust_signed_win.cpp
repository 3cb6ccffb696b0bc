// A signed build uses a file list only when its signature, fetched beside it, passes the check with
// the key built into the program; main thread, at start-up.
#include <stdio.h>

#include "manifest_key.h"
#include "updater/downloader.h"
#include "updater/manifest_trust.h"
#include "updater/signature.h"

void PrepareManifestFetch() {
    remove("update.cfg");
    remove(SignatureFileName);
}

bool ManifestTrusted(bool manifestFetched) {
    // Without a list there is nothing to refuse: the run says the list could not be downloaded.
    if (!manifestFetched) return true;
    bool signatureFetched = DownloadFile(SignatureFileName, MaxSignatureBytes);
    bool accepted = AcceptSignedManifest(ManifestPublicKeys, ManifestPublicKeyCount, signatureFetched);
    remove(SignatureFileName);
    return accepted;
}
