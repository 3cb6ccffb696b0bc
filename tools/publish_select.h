// What of a game folder publish_manifest publishes: the launcher's own files, which are never game files, the
// publisher's --exclude patterns, and files that read as private keys; portable, single-threaded.
#pragma once
#include <string>
#include <vector>

// Whether a relative "/"-separated path matches an --exclude pattern: "*" matches any characters within one
// component, "**" any characters across components ("**/" also none, so "**/*.psd" matches "a.psd"), "?" one
// character other than '/'; every other character matches itself, letter case included.
bool MatchesExcludePattern(const char* pattern, const char* path);

// Files that a launcher writes into its game folder, which a folder copied from a player's installation holds.
// For such a path returns what it is and sets *shown to the name to print (a folder once, for every file in it);
// null for any other path.
const char* LauncherOwnFile(const std::string& path, std::string* shown);

// The label of a PEM private key ("EC PRIVATE KEY", "PRIVATE KEY", ...) found in the first bytes of the file at
// path, or empty when there is none or the file cannot be read. Reads at most 4 KiB: a key file starts with it.
std::string PrivateKeyLabel(const std::string& path);

// The paths of a folder's files that publish_manifest leaves out, with the line it prints for each.
class LeftOut {
public:
    explicit LeftOut(const std::vector<std::string>& patterns) : patterns_(patterns), matched_(patterns.size()) {}

    // True when path is not a game file: a launcher's own file (said once per name) or one that matches a pattern.
    bool Skips(const std::string& path);
    // One line per launcher file left out and per pattern (with its number of files, or a warning when it matched
    // none), each starting with prefix.
    void Report(const char* prefix) const;

private:
    std::vector<std::string> patterns_;
    std::vector<int> matched_;
    std::vector<std::string> lines_;
    std::vector<std::string> shown_;
};
