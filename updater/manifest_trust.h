// Whether the fetched file list may be used; main thread, at start-up. A signed build links
// manifest_trust_signed_win.cpp (the list's signature, checked with the built-in key), an unsigned
// build manifest_trust_unsigned.cpp (every list is used).
#pragma once

// Removes what an earlier start may have left of the list and its proof, so that nothing old can
// stand in for what is fetched now.
void PrepareManifestFetch();

// Called once "update.cfg" was fetched, or failed to be (manifestFetched). Fetches and checks what
// the build needs besides the list; returns false, after logging why, when the list must not be used.
bool ManifestTrusted(bool manifestFetched);
