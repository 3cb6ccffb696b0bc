// What of a game folder publish_manifest publishes: the launcher's own files, --exclude patterns and private keys;
// portable, single-threaded.
#include "tools/publish_select.h"

#include <stdio.h>
#include <string.h>

#include "common/text.h"
#include "updater/net/downloader.h"
#include "updater/trust/signature.h"

namespace {

struct OwnFile {
    const char* path;  // relative, "/" separators; ends in "/" for a folder and all it holds
    const char* what;
};

// What a launcher writes into its game folder. Listed, each would be fetched over the player's own copy at every
// start (the settings, the version record) or name a file the launcher itself keeps open.
const OwnFile LauncherOwnFiles[] = {
    {"Launcher_log.txt", "the launcher's log"},
    {AcceptedVersionFileName, "the launcher's record of the manifest version it accepted"},
    {"contents/launcher.ini", "the launcher's settings file, which holds each player's own options"},
    {StagingFolder "/", "the launcher's staging folder of unfinished downloads"},
};

// A self-update moves the running program aside as "<name> .old" until the next start removes it.
const char SelfUpdateLeftover[] = " .old";

// The first bytes read for a key's PEM header; a PEM file starts with it, after at most a few comment lines.
const size_t KeyProbeBytes = 4096;

}  // namespace

bool MatchesExcludePattern(const char* pattern, const char* path) {
    for (;;) {
        if (pattern[0] == '*' && pattern[1] == '*') {
            const char* rest = pattern + 2;
            if (*rest == '/') {
                // "**/": none or more whole components.
                for (const char* at = path;; ++at) {
                    if (MatchesExcludePattern(rest + 1, at)) return true;
                    at = strchr(at, '/');
                    if (!at) return false;
                }
            }
            for (const char* at = path;; ++at) {
                if (MatchesExcludePattern(rest, at)) return true;
                if (!*at) return false;
            }
        }
        if (*pattern == '*') {
            for (const char* at = path;; ++at) {
                if (MatchesExcludePattern(pattern + 1, at)) return true;
                if (!*at || *at == '/') return false;
            }
        }
        if (!*pattern || !*path) return !*pattern && !*path;
        if (*pattern == '?' ? *path == '/' : *pattern != *path) return false;
        ++pattern;
        ++path;
    }
}

const char* LauncherOwnFile(const std::string& path, std::string* shown) {
    for (const OwnFile& own : LauncherOwnFiles) {
        size_t length = strlen(own.path);
        bool folder = own.path[length - 1] == '/';
        // Windows keeps names without regard to case, so a copied installation may spell them either way.
        if (folder ? path.size() > length && SpanEqualsIgnoringCase(path.c_str(), length, own.path)
                   : EqualIgnoringCase(path.c_str(), own.path)) {
            *shown = own.path;
            return own.what;
        }
    }
    const size_t suffix = sizeof SelfUpdateLeftover - 1;
    if (path.find('/') == std::string::npos && path.size() > suffix &&
        path.compare(path.size() - suffix, suffix, SelfUpdateLeftover) == 0) {
        *shown = path;
        return "a program a launcher's self-update moved aside";
    }
    return nullptr;
}

std::string PrivateKeyLabel(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return "";
    char start[KeyProbeBytes + 1];
    size_t length = fread(start, 1, KeyProbeBytes, file);
    fclose(file);
    start[length] = 0;
    static const char Begin[] = "-----BEGIN ", Label[] = "PRIVATE KEY";
    // A binary file may hold zero bytes before a header, so the search steps over them.
    for (const char* at = start; at < start + length; at += strlen(at) + 1) {
        for (const char* begin = strstr(at, Begin); begin; begin = strstr(begin + 1, Begin)) {
            const char* label = begin + sizeof Begin - 1;
            const char* close = strstr(label, "-----");
            if (!close) break;
            const std::string text(label, close);
            const size_t size = sizeof Label - 1;
            if (text.find_first_of("\r\n") == std::string::npos && text.size() >= size &&
                text.compare(text.size() - size, size, Label) == 0) {
                return text;
            }
        }
    }
    return "";
}

bool LeftOut::Skips(const std::string& path) {
    std::string shown;
    if (const char* what = LauncherOwnFile(path, &shown)) {
        bool said = false;
        for (const std::string& name : shown_) said = said || name == shown;
        if (!said) {
            shown_.push_back(shown);
            lines_.push_back("left out " + shown + ": " + what);
        }
        return true;
    }
    for (size_t i = 0; i < patterns_.size(); ++i) {
        if (MatchesExcludePattern(patterns_[i].c_str(), path.c_str())) {
            ++matched_[i];
            return true;
        }
    }
    return false;
}

void LeftOut::Report(const char* prefix) const {
    for (const std::string& line : lines_) printf("%s%s\n", prefix, line.c_str());
    for (size_t i = 0; i < patterns_.size(); ++i) {
        if (matched_[i]) {
            printf("%sleft out %d file(s) matching --exclude %s\n", prefix, matched_[i], patterns_[i].c_str());
        } else {
            fprintf(stderr, "%swarning: --exclude %s matches no file\n", prefix, patterns_[i].c_str());
        }
    }
}
