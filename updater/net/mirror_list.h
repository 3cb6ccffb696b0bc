// The published mirror list update.cfg.mirrors and the base URLs it holds; portable, main thread at start-up (and the
// publisher tool).
//
// update.cfg.mirrors lies beside update.cfg and holds one base URL per line, each ended by one LF, in the
// publisher's order of preference; no blank line, comment or CR, no URL twice:
//
//   http://mirror-a.example.com/Quorvane/
//   http://203.0.113.9:8080/games/quorvane/
//
// A base URL is "http://HOST[:PORT]/PATH/": a host name or an IPv4 address, a port from 1 to 65535, and a path that
// starts and ends with '/' and holds only letters, digits and - . _ ~ between its slashes (no empty, "." or ".."
// part). A file's URL is its base URL followed by its path in update.cfg. An empty file lists no mirror. In a
// signed build the list's SHA-256 is in update.cfg.sig (see updater/trust/signature.h), and a launcher takes
// mirrors only from a list that matched it.
#pragma once
#include <stddef.h>

#include <string>
#include <vector>

#include "updater/net/downloader.h"
#include "updater/manifest.h"

enum {
    // More mirrors than transfer slots cannot all be used at once.
    MaxMirrors = 8,
    // A base URL and the longest manifest path (PathSlotSize - 1) together fit the transport's URL buffer.
    MaxBaseUrlLength = UrlBufferSize - PathSlotSize,
    MaxMirrorListSize = MaxMirrors * (MaxBaseUrlLength + 1),
};

#define MirrorListName "update.cfg.mirrors"

// Why text (length bytes) is not a base URL as above, or null when it is one.
const char* BaseUrlProblem(const char* text, size_t length);

// Reads a mirror list into bases (replaced). False, with what is wrong in problem (bounded by problemSize) and bases
// left empty, when any line is not a base URL or the list breaks a rule or bound above.
bool ReadMirrorList(const char* text, size_t length, std::vector<std::string>* bases, char* problem,
                    size_t problemSize);

// The text of a mirror list holding bases, which the caller checked with BaseUrlProblem.
std::string FormatMirrorList(const std::vector<std::string>& bases);
