// Whether the fetched file list may be used; main thread, at start-up. A signed build links
// manifest_trust_signed_win.cpp (the list's signature, checked with the built-in keys, and the signed
// listing of every file's SHA-256 and length), an unsigned build manifest_trust_unsigned.cpp (every list is used).
#pragma once
#include <string>
#include <vector>

#include "updater/manifest.h"
#include "updater/trust/file_fingerprint.h"

// Removes what an earlier start may have left of the list and its proofs, so that nothing old can
// stand in for what is fetched now.
void PrepareManifestFetch();

// Called once "update.cfg" was fetched, or failed to be (manifestFetched). Fetches and checks what
// the build needs besides the list; returns false, after logging why, when the list must not be used.
bool ManifestTrusted(bool manifestFetched);

// Called after LoadManifest read a trusted list: checks what the build binds each entry to and fills
// fingerprints with one per entry (a signed build; an unsigned one leaves it empty). Returns false, after
// logging why, when the list must not be used after all. Leaves no proof file behind.
bool ManifestEntriesTrusted(const Manifest& manifest, std::vector<FileFingerprint>& fingerprints);

// Called once the list was accepted: the mirrors the list host publishes beside it (update.cfg.mirrors), fetched
// without a line of their own. A signed build fetches the list only when the signature names one, and takes it
// only when it matches; an unsigned build takes what reads. A list that is refused is told with one line,
// "Mirror list refused: update.cfg.mirrors <why>", and the run goes on with the build's hosts alone: the files are
// still checked against the accepted list, so the player loses only the mirrors, not the update.
std::vector<std::string> TrustedMirrors();
