// Publisher tool: writes a game folder's update.cfg with the launcher's own digest and path rules, checks a
// published folder or what a server serves against it, and says what to upload; single-threaded.
//
//   publish_manifest <game folder> [<output file>] [--exclude GLOB]... [--mirror URL... | --no-mirrors]
//                    [--sign KEY [--version N] [--expires-days D | --expires DATE]]
//   publish_manifest --check <game folder> [--exclude GLOB]... [--key PUBLIC_KEY]...
//   publish_manifest --check http://HOST[:PORT]/PATH/ [--folder <game folder>] [--key PUBLIC_KEY]...
//   publish_manifest --changed-since <older update.cfg> <game folder>
//   publish_manifest --make-key BASE
//   Writing and checking also take --block-index-min BYTES (default 1 MiB) or --no-block-index.
//
// Writing lists every regular file under the folder (the output file, its signature and listing, the launcher's
// own files and what --exclude names excepted) as "<path> <digest>\n", paths relative with "/" separators in byte
// order, digests in lowercase. Refuses, with a message and a non-zero exit, a folder the launcher could not use, a
// folder that holds a private key, a signature left from an earlier signing without --sign, and a --version that
// does not rise. The output defaults to <game folder>/update.cfg and is written whole or not at all. With --sign,
// <output file>.files (every file's SHA-256 and length) and <output file>.sig are written beside it (see
// updater/trust/signature.h); an expiry that has passed is written but exits with 1. --make-key writes a new key
// pair BASE.key (owner-only) and BASE.pub. <output file>.mirrors (updater/net/mirror_list.h) holds the --mirror base
// URLs; without --mirror the list already there is kept, --no-mirrors removes it; with --sign the signature names it
// (format 3). Every listed file of at least the --block-index-min size gets its block
// index beside it (updater/delta/block_index.h), written before update.cfg; index files of earlier versions are
// removed after it.
//
// Checking reads update.cfg as the launcher reads it and lists every entry the launcher would skip, every listed
// file that is missing or differs, and every file that is not listed; where update.cfg.sig exists it checks that
// too (its signature with the --key files: a launcher built with them), where update.cfg.files exists, that it
// matches update.cfg and every file's SHA-256 and length, where update.cfg.mirrors exists, its form and (signed) that
// the signature names it, and every block index: present for each listed file of
// the threshold size, decoding, and naming the file's digest and length; an index of no listed version is stale.
// Given a URL it fetches all of that from the server as a launcher does, and with --folder also compares what is
// served with the folder. It exits with 1 when there is any mismatch.
//
// --changed-since prints the paths to upload (or purge from a cache) after publishing, in a safe order: the game
// files whose digest differs from the older list and their block indexes, then the mirror list, the listing and the
// signature, then update.cfg.
//
// Exit codes: 0 done; 1 refused, or a mismatch found; 2 the tool could not do its work (usage, unreadable files,
// no answer from the server).
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#define isatty _isatty
#define fileno _fileno
#define getpid _getpid
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "common/file.h"
#include "common/log.h"
#include "common/text.h"
#include "tools/publish_http.h"
#include "tools/publish_log.h"
#include "tools/publish_select.h"
#include "tools/publish_sign.h"
#include "updater/delta/block_index.h"
#include "updater/manifest.h"
#include "updater/net/downloader.h"
#include "updater/net/mirror_list.h"
#include "updater/net/transfer.h"
#include "updater/sha1.h"

namespace fs = std::filesystem;

namespace {

enum { ExitOk = 0, ExitRefused = 1, ExitFailed = 2 };

// Files of a published folder that are not game files.
const char* const PublishedExtras[] = {"update.cfg",      "update.cfg.tmp",      SignatureFileName,
                                       SignatureFileName ".tmp", FileListingName, FileListingName ".tmp",
                                       MirrorListName,  MirrorListName ".tmp"};

// Files of at least this many bytes get a block index; -1 for none.
long long BlockIndexMin = DefaultBlockIndexMinBytes;

// The index name of a listed file, as the launcher makes it.
std::string IndexPathOf(const std::string& path, const char* digest) {
    char name[PathSlotSize + 2 * Sha1Size + 16];  // the path, ".", the digest, ".blocks" and the terminator
    return MakeBlockIndexPath(path.c_str(), digest, name, sizeof name) ? name : "";
}

bool WantsBlockIndex(unsigned long long size) {
    return BlockIndexMin >= 0 && size >= (unsigned long long)BlockIndexMin;
}

// Writes text to path through a temporary file renamed over it, so a reader never sees half a file.
bool WriteWhole(const fs::path& path, const std::string& text) {
    return ReplaceFileContents(path.string().c_str(), text.data(), text.size());
}

std::string HexText(const uint8_t* bytes, size_t size) {
    std::string text;
    char two[3];
    for (size_t i = 0; i < size; ++i) {
        snprintf(two, sizeof two, "%02x", bytes[i]);
        text += two;
    }
    return text;
}

// Everything the tool reads whole is a list, a listing, a signature, a key or a block index, all far smaller.
bool ReadWhole(const fs::path& path, std::string& text) {
    return ReadSmallFile(path.string().c_str(), 64u << 20, text);
}

// Why the launcher could not use a path, or null when it can.
const char* PathProblem(const std::string& path) {
    if (path.find(' ') != std::string::npos) return "holds a space, which ends a path in update.cfg";
    if (path.size() > PathSlotSize - 1) return "is longer than 199 characters";
    if (!IsSafeManifestPath(path.c_str())) {
        return "is refused by the launcher (a device name such as CON or COM1, a name ending in a dot or a "
               "blank, or one of : < > \" | ? * or a control character)";
    }
    return nullptr;
}

// A line of digest progress on standard error, rewritten in place at most ten times a second, and only
// when standard error is a terminal: a log file or a pipe gets the final status line alone.
class Progress {
public:
    Progress(size_t files, unsigned long long bytes)
        : files_(files), bytes_(bytes), shown_(isatty(fileno(stderr)) != 0), start_(Now()), last_(0) {}

    void Step(unsigned long long fileBytes) {
        ++doneFiles_;
        doneBytes_ += fileBytes;
        if (!shown_) return;
        double now = Now();
        if (now - last_ < 0.1 && doneFiles_ < files_) return;
        last_ = now;
        double seconds = now - start_;
        fprintf(stderr, "\rdigesting: %zu/%zu files, %.1f/%.1f MB, %.1f MB/s ", doneFiles_, files_, doneBytes_ / 1e6,
                bytes_ / 1e6, seconds > 0 ? doneBytes_ / 1e6 / seconds : 0.0);
        fflush(stderr);
    }
    void Finish() {
        if (shown_ && doneFiles_) fputc('\n', stderr);
    }

private:
    static double Now() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    size_t files_, doneFiles_ = 0;
    unsigned long long bytes_, doneBytes_ = 0;
    bool shown_;
    double start_, last_;
};

unsigned long long SizeOf(const fs::path& path) {
    std::error_code error;
    uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

// Every regular file under root as a relative "/" path, in byte order; false when the walk failed.
bool ListFiles(const fs::path& root, std::vector<std::string>& paths) {
    std::error_code error;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, error), end;
    for (; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error)) paths.push_back(it->path().lexically_relative(root).generic_string());
    }
    if (error) {
        fprintf(stderr, "publish_manifest: cannot walk %s: %s\n", root.string().c_str(), error.message().c_str());
        return false;
    }
    std::sort(paths.begin(), paths.end());
    return true;
}

// Makes the block index of a listed file and writes it beside the file, unless an identical one is there
// already (so a server or a CDN sees no change); leaves the file's digest in DigestText and the index's
// relative name in indexPath. Returns 0 or the errno value to report.
int WriteBlockIndex(const fs::path& root, const std::string& path, unsigned long long size, std::string* indexPath,
                    int* written) {
    FILE* file = fopen((root / path).string().c_str(), "rb");
    if (!file) return errno;
    BlockIndex index;
    int readError = MakeBlockIndex(FileReadNext, file, size, &index);
    if (readError && ferror(file)) readError = errno ? errno : EIO;
    fclose(file);
    if (readError) return readError;
    for (int i = 0; i < Sha1Size; ++i) snprintf(DigestText + 2 * i, 3, "%02x", index.fileSha1[i]);
    *indexPath = IndexPathOf(path, DigestText);
    const std::string text = EncodeBlockIndex(index);
    std::string existing;
    if (ReadWhole(root / *indexPath, existing) && existing == text) return 0;
    if (!WriteWhole(root / *indexPath, text)) return errno ? errno : EIO;
    ++*written;
    return 0;
}

fs::path FullPath(const fs::path& path) {
    std::error_code error;
    return fs::weakly_canonical(fs::absolute(path), error);
}

// Why a file must not be published because it is a private key, or null: the signing key itself, or any file whose
// first bytes read as a PEM private key. Anyone who fetched it could sign manifests or impersonate the server.
const char* KeyProblem(const fs::path& file, const fs::path& signingKeyFull, std::string* label) {
    if (!signingKeyFull.empty() && FullPath(file) == signingKeyFull) return "it is the --sign key";
    *label = PrivateKeyLabel(file.string());
    return label->empty() ? nullptr : "it holds a private key";
}

std::string KeyRefusal(const std::string& path, const char* problem, const std::string& label) {
    return path + ": " + problem + (label.empty() ? "" : " (-----BEGIN " + label + "-----)") +
           "; keep private keys outside the published folder";
}

// Refuses to publish without --sign over the signature and listing of an earlier signing: they would name another
// update.cfg, so launchers built with a key would refuse the new one. Nothing is written then.
bool RefusesStaleSignature(const fs::path& signatureOutput, const fs::path& listingOutput) {
    std::error_code error;
    std::string stale;
    for (const fs::path& path : {signatureOutput, listingOutput}) {
        if (fs::exists(path, error)) stale += (stale.empty() ? "" : " and ") + path.string();
    }
    if (stale.empty()) return false;
    fprintf(stderr, "publish_manifest: refused to publish without --sign: %s %s from an earlier signing and would not "
                    "match the new update.cfg, which launchers built with a key then refuse; sign again with --sign "
                    "KEY, or delete %s to publish unsigned; nothing written\n",
            stale.c_str(), stale.find(" and ") == std::string::npos ? "is" : "are", stale.c_str());
    return true;
}

// --mirror URL (as often as needed) and --no-mirrors.
struct MirrorOptions {
    std::vector<std::string> urls;  // each checked with BaseUrlProblem, none twice, at most MaxMirrors
    bool drop = false;
};

// The mirrors to publish at mirrorsOutput: the --mirror URLs, none with --no-mirrors, else those of the list already
// there, so that publishing again keeps a CDN without naming it each time. False, after saying why, when that list
// cannot be read as launchers read it, or when the signature beside it names another list: a list changed since it
// was signed (or copied back from a server someone altered) is not signed again unseen.
bool ResolveMirrors(const fs::path& mirrorsOutput, const fs::path& signatureOutput, const MirrorOptions& options,
                    std::vector<std::string>* bases) {
    *bases = options.urls;
    std::string text, signatureText;
    if (!options.urls.empty() || options.drop || !ReadWhole(mirrorsOutput, text)) return true;
    char problem[MaxBaseUrlLength + 200];
    SignatureFile signature;
    uint8_t digest[Sha256Size];
    if (ReadWhole(signatureOutput, signatureText) &&
        !ReadSignatureFile(signatureText.data(), signatureText.size(), &signature) && Sha256Of(text, digest) &&
        !MatchMirrorList(text.data(), text.size(), digest, signature, bases, problem, sizeof problem)) {
        fprintf(stderr, "publish_manifest: refused to keep %s: it %s (%s); give the mirrors again with --mirror URL, "
                        "or --no-mirrors; nothing written\n", mirrorsOutput.string().c_str(), problem,
                signatureOutput.string().c_str());
        return false;
    }
    if (!ReadMirrorList(text.data(), text.size(), bases, problem, sizeof problem)) {
        fprintf(stderr, "publish_manifest: refused to keep %s: %s; give the mirrors again with --mirror URL, or "
                        "--no-mirrors; nothing written\n", mirrorsOutput.string().c_str(), problem);
        return false;
    }
    if (!bases->empty()) {
        printf("publish_manifest: kept the %zu mirror(s) of %s (--mirror URL to change them, --no-mirrors to drop "
               "them)\n", bases->size(), mirrorsOutput.string().c_str());
    }
    return true;
}

int WriteManifest(const fs::path& root, const fs::path& output, const SigningOptions& signing,
                  const std::vector<std::string>& excludes, const MirrorOptions& mirrorOptions) {
    std::error_code error;
    const fs::path outputFull = FullPath(output);
    fs::path signatureOutput = output, listingOutput = output, mirrorsOutput = output;
    signatureOutput += ".sig";
    listingOutput += ".files";
    mirrorsOutput += ".mirrors";
    const fs::path signatureFull = FullPath(signatureOutput), listingFull = FullPath(listingOutput),
                   mirrorsFull = FullPath(mirrorsOutput);
    const bool sign = !signing.keyPath.empty();
    if (!sign && RefusesStaleSignature(signatureOutput, listingOutput)) return ExitRefused;
    std::vector<std::string> mirrors;
    if (!ResolveMirrors(mirrorsOutput, signatureOutput, mirrorOptions, &mirrors)) return ExitRefused;
    // An empty list is no list: the file is removed, and the signature stays in the format every launcher reads.
    const std::string mirrorText = FormatMirrorList(mirrors);
    const std::string* mirrorList = mirrors.empty() ? nullptr : &mirrorText;
    // A launcher refuses a version lower than one it accepted, and that may be the one already published here.
    const uint64_t published = SignedVersionAt(signatureOutput.string());
    if (sign && signing.versionGiven && signing.version <= published) {
        fprintf(stderr, "publish_manifest: refused --version %llu: it must be above version %llu of %s, which "
                        "launchers may have accepted already; nothing written\n",
                (unsigned long long)signing.version, (unsigned long long)published, signatureOutput.string().c_str());
        return ExitRefused;
    }
    const fs::path signingKeyFull = sign ? FullPath(signing.keyPath) : fs::path();
    std::vector<std::string> all, paths, indexes;
    if (!ListFiles(root, all)) return ExitFailed;
    LeftOut leftOut(excludes);
    int refused = 0;
    unsigned long long bytes = 0;
    for (const std::string& relative : all) {
        const fs::path full = FullPath(root / relative);
        if (full == outputFull || full == signatureFull || full == listingFull || full == mirrorsFull) continue;
        // Every file is looked at, left out or not: the whole folder tends to be uploaded.
        std::string label;
        if (const char* problem = KeyProblem(root / relative, signingKeyFull, &label)) {
            fprintf(stderr, "publish_manifest: refused %s\n", KeyRefusal(relative, problem, label).c_str());
            ++refused;
            continue;
        }
        if (leftOut.Skips(relative)) continue;
        // Names of block indexes are reserved for them: an index is not a game file, and a game file
        // may not take such a name. What an interrupted write of an index left is removed.
        if (relative.size() > 4 && relative.compare(relative.size() - 4, 4, ".tmp") == 0 &&
            IsBlockIndexPath(relative.substr(0, relative.size() - 4))) {
            fs::remove(root / relative, error);
            continue;
        }
        if (IsBlockIndexPath(relative)) {
            std::string text;
            BlockIndex decoded;
            if (ReadWhole(root / relative, text) && !ReadBlockIndex(text.data(), text.size(), nullptr, &decoded)) {
                indexes.push_back(relative);
            } else {
                fprintf(stderr, "publish_manifest: refused %s: the name is reserved for block indexes\n",
                        relative.c_str());
                ++refused;
            }
            continue;
        }
        // A backslash inside a name is a separator to the launcher, so it is refused rather than
        // left to mean another file.
        const char* problem = relative.find('\\') != std::string::npos ? "holds a backslash" : PathProblem(relative);
        if (problem) {
            fprintf(stderr, "publish_manifest: refused %s: %s\n", relative.c_str(), problem);
            ++refused;
            continue;
        }
        paths.push_back(relative);
        bytes += SizeOf(root / relative);
    }
    leftOut.Report("publish_manifest: ");
    if (paths.size() + refused > MaxManifestEntries) {
        fprintf(stderr, "publish_manifest: %zu files, but the launcher reads at most %d\n", paths.size() + refused,
                (int)MaxManifestEntries);
        return ExitRefused;
    }
    if (refused) {
        fprintf(stderr, "publish_manifest: %d file(s) refused; update.cfg not written\n", refused);
        return ExitRefused;
    }

    std::string content, listing;
    std::set<std::string> currentIndexes;
    int indexesWritten = 0;
    Progress progress(paths.size(), bytes);
    for (const std::string& path : paths) {
        std::string full = (root / fs::path(path)).string();
        unsigned long long size = SizeOf(full);
        // A file with a block index is read once: the index's whole-file SHA-1 is its digest.
        int readError = 0;
        if (WantsBlockIndex(size)) {
            std::string written;
            readError = WriteBlockIndex(root, path, size, &written, &indexesWritten);
            if (!readError) currentIndexes.insert(written);
        } else {
            readError = ComputeFileDigest(full.c_str());
        }
        if (readError) {
            progress.Finish();
            fprintf(stderr, "publish_manifest: cannot read %s: %s\n", full.c_str(), strerror(readError));
            return ExitFailed;
        }
        content += path + " " + DigestText + "\n";
        // A signed manifest also gives every file's SHA-256 and length, which SHA-1 collisions cannot fake.
        uint8_t sha256[Sha256Size];
        uint64_t length = 0;
        if (sign && !Sha256OfFileAt(full, sha256, &length)) {
            progress.Finish();
            fprintf(stderr, "publish_manifest: cannot read %s for its SHA-256\n", full.c_str());
            return ExitFailed;
        }
        if (sign) listing += path + " " + HexText(sha256, Sha256Size) + " " + std::to_string(length) + "\n";
        progress.Step(SizeOf(full));
    }
    progress.Finish();

    // The signature is made before anything is written, so a failure leaves the published files as they were.
    std::string signatureText, summary, signingError;
    if (sign && !BuildSignatureFile(signing, content, listing, mirrorList, signatureOutput.string(), &signatureText,
                                    &summary, &signingError)) {
        fprintf(stderr, "publish_manifest: %s\n", signingError.c_str());
        return ExitFailed;
    }
    for (const auto& [path, text] : {std::make_pair(output, (const std::string*)&content),
                                     std::make_pair(mirrorsOutput, mirrorList)}) {
        if (text && !WriteWhole(path, *text)) {
            fprintf(stderr, "publish_manifest: cannot write %s\n", path.string().c_str());
            return ExitFailed;
        }
    }
    if (mirrorList) {
        printf("publish_manifest: %zu mirror(s) in %s\n", mirrors.size(), mirrorsOutput.string().c_str());
    } else if (fs::remove(mirrorsOutput, error)) {
        printf("publish_manifest: removed %s: no mirrors\n", mirrorsOutput.string().c_str());
    }
    if (sign) {
        for (const auto& [path, text] : {std::make_pair(listingOutput, listing),
                                         std::make_pair(signatureOutput, signatureText)}) {
            if (!WriteWhole(path, text)) {
                fprintf(stderr, "publish_manifest: cannot write %s\n", path.string().c_str());
                return ExitFailed;
            }
        }
        printf("publish_manifest: signed %s: %s\n", signatureOutput.string().c_str(), summary.c_str());
    }
    // Removed only now: a launcher that read the previous update.cfg may still ask for its indexes.
    int removed = 0;
    for (const std::string& index : indexes) {
        if (!currentIndexes.count(index) && fs::remove(root / index, error)) ++removed;
    }
    printf("publish_manifest: %zu files listed in %s\n", paths.size(), output.string().c_str());
    if (!currentIndexes.empty() || removed) {
        printf("publish_manifest: %zu block indexes (%d written), %d stale removed\n", currentIndexes.size(),
               indexesWritten, removed);
    }
    // Written all the same, so that a publisher can see launchers refuse it; a script must not upload it.
    if (sign && signing.expiresAt && signing.expiresAt <= (int64_t)time(nullptr)) {
        char date[16];
        FormatUtcDate(date, sizeof date, signing.expiresAt);
        fprintf(stderr, "publish_manifest: error: the signature expired on %s, so every launcher refuses this "
                        "manifest; sign again with a later --expires\n", date);
        return ExitRefused;
    }
    return ExitOk;
}

// Reads a manifest file as the launcher reads it and returns its entries. The lines the launcher would log are
// kept out of the output; each entry it would skip becomes a problem.
std::vector<ManifestEntry> ReadManifestAsLauncher(const fs::path& file, std::vector<std::string>* problems) {
    std::vector<std::string> lines;
    CollectLauncherLines(&lines);
    Manifest manifest = LoadManifest(file.string().c_str());
    CollectLauncherLines(nullptr);
    // The reader logs one line of its own first, then one line per line it skips, which it counts.
    size_t skipped = std::min(lines.size(), (size_t)manifest.refusedLines);
    for (size_t i = lines.size() - skipped; problems && i < lines.size(); ++i) {
        problems->push_back("skipped by launchers: " + lines[i]);
    }
    return std::move(manifest.entries);
}

const char NotVerified[] = "; the signature was not verified: give --key PUBLIC_KEY";

// Checks update.cfg.sig (text; null when there is none) against the bytes of update.cfg: its form and the manifest
// digest it names, its expiry, and with public keys its signature, as a launcher built with those keys would.
// Returns the number of problems found; signature receives the file when one was read whole, unverified whether
// it is there but no key checked it.
int CheckSignature(const std::string& manifest, const std::string* text, const std::vector<std::string>& keyPaths,
                   const SignatureFile** signature, bool* unverified) {
    static SignatureFile file;
    *signature = nullptr;
    *unverified = false;
    std::string keyText;
    if (!text) {
        if (keyPaths.empty()) return 0;
        printf("no signature: %s is missing\n", SignatureFileName);
        return 1;
    }
    uint8_t digest[Sha256Size];
    if (!Sha256Of(manifest, digest)) {
        printf("publish_manifest: this build cannot check signatures\n");
        return 1;
    }
    if (const char* problem = ReadSignatureFile(text->data(), text->size(), &file)) {
        printf("signature file: %s\n", problem);
        return 1;
    }
    *signature = &file;
    if (memcmp(digest, file.manifestSha256, Sha256Size) != 0) {
        printf("signature file: it was made for another update.cfg; sign again\n");
        return 1;
    }
    const int64_t now = (int64_t)time(nullptr);
    char date[16] = "never";
    if (file.expires) FormatUtcDate(date, sizeof date, (int64_t)file.expires);
    const std::string keyId = HexText(file.keyId, KeyIdSize);
    if (keyPaths.empty()) {
        printf("publish_manifest: %s names this update.cfg (key %s, version %llu, expires %s); give --key to verify "
               "it\n", SignatureFileName, keyId.c_str(), (unsigned long long)file.version, date);
        *unverified = true;
        if (file.expires && (int64_t)file.expires <= now) {
            printf("signature file: it expired on %s, so launchers refuse update.cfg; sign again\n", date);
            return 1;
        }
        return 0;
    }
    uint8_t keys[MaxManifestKeys][PublicKeySize];  // main takes no more keys than a launcher knows
    const std::string* signer = nullptr;
    for (size_t i = 0; i < keyPaths.size(); ++i) {
        if (!ReadWhole(keyPaths[i], keyText) || !ReadPublicKeyText(keyText.data(), keyText.size(), keys[i])) {
            printf("publish_manifest: %s is not a public key file\n", keyPaths[i].c_str());
            return 1;
        }
        uint8_t id[KeyIdSize];
        ManifestKeyId(keys[i], id);
        if (memcmp(id, file.keyId, KeyIdSize) == 0) signer = &keyPaths[i];
    }
    SignatureFile checked;
    ManifestVerdict verdict = CheckManifestSignature(text->data(), text->size(), digest, keys, (int)keyPaths.size(),
                                                     VerifyStatement, 0, now, &checked);
    if (verdict != ManifestAccepted) {
        char line[256];
        FormatRefusalLine(line, sizeof line, verdict, checked, 0);
        printf("%s\n", line);
        if (!signer) printf("signature file: signed with key %s, which none of the --key files is\n", keyId.c_str());
        return 1;
    }
    printf("publish_manifest: %s is valid for %s (key %s, version %llu, expires %s)\n", SignatureFileName,
           signer->c_str(), keyId.c_str(), (unsigned long long)file.version, date);
    return 0;
}

// Checks update.cfg.files (text; null when there is none) against the signature (when one was read) and the entries
// of update.cfg read into the manifest tables, and fills fingerprints when it matches (*matched). Returns the number
// of problems found.
int CheckListing(const std::string* text, const std::vector<ManifestEntry>& list, const SignatureFile* signature,
                 FileFingerprint* fingerprints, bool* matched) {
    *matched = false;
    if (!text) {
        if (!signature) return 0;
        printf("no file listing: %s is missing, so signed launchers refuse update.cfg\n", FileListingName);
        return 1;
    }
    uint8_t textSha256[Sha256Size];
    if (!Sha256Of(*text, textSha256)) return 0;  // said once by CheckSignature already
    SignatureFile named{};
    if (signature) named = *signature;
    else memcpy(named.listingSha256, textSha256, Sha256Size);  // unsigned: its form and content alone
    char problem[400];
    if (!MatchFileListing(text->data(), text->size(), textSha256, named, list.data(), (int)list.size(), fingerprints,
                          problem, sizeof problem)) {
        printf("%s %s\n", FileListingName, problem);
        return 1;
    }
    *matched = true;
    return 0;
}

// Checks update.cfg.mirrors (text; null when there is none) as launchers read it, and against the signature file
// (when one was read): a signature names the list, and this one. Returns the number of problems found.
int CheckMirrors(const std::string* text, const SignatureFile* signature) {
    if (!text) {
        if (!signature || !signature->hasMirrorList) return 0;
        printf("no mirror list: %s is missing, so signed launchers use no mirror\n", MirrorListName);
        return 1;
    }
    std::vector<std::string> bases;
    char problem[MaxBaseUrlLength + 200];
    uint8_t textSha256[Sha256Size];
    bool read = signature ? Sha256Of(*text, textSha256) &&
                                MatchMirrorList(text->data(), text->size(), textSha256, *signature, &bases, problem,
                                                sizeof problem)
                          : ReadMirrorList(text->data(), text->size(), &bases, problem, sizeof problem);
    if (!read) {
        printf("%s %s, so %slaunchers use no mirror\n", MirrorListName, problem, signature ? "signed " : "");
        return 1;
    }
    printf("publish_manifest: %s lists %zu mirror(s)\n", MirrorListName, bases.size());
    return 0;
}

// Where a file's SHA-256 and length differ from its line of update.cfg.files; where is "in the folder" or "served".
std::string ListingMismatch(const char* path, const uint8_t sha256[Sha256Size], uint64_t length,
                            const FileFingerprint& listed, const char* where) {
    if (length != listed.length) {
        return std::string("differs from ") + FileListingName + ": " + path + " (" + std::to_string(length) +
               " bytes " + where + ", " + std::to_string(listed.length) + " listed)";
    }
    if (memcmp(sha256, listed.sha256, Sha256Size) != 0) {
        return std::string("differs from ") + FileListingName + ": " + path + " (SHA-256 " +
               HexText(sha256, Sha256Size) + " " + where + ", " + HexText(listed.sha256, Sha256Size) + " listed)";
    }
    return "";
}

// What is wrong with the block index named name of a listed file (text; null when there is none), or empty.
std::string IndexProblem(const std::string& name, const std::string* text, const char* digest, uint64_t length) {
    BlockIndex index;
    if (!text) return "missing block index: " + name;
    if (const char* problem = ReadBlockIndex(text->data(), text->size(), digest, &index)) {
        return "bad block index: " + name + ": " + problem;
    }
    if (index.fileLength != length) return "bad block index: " + name + ": made for a file of another length";
    return "";
}

// Every entry's SHA-256 and length from update.cfg.files, for the files checked after the listing.
FileFingerprint Fingerprints[MaxManifestEntries];

// The text of a file beside update.cfg into text, or null when there is none.
const std::string* Beside(const fs::path& path, std::string* text) {
    return ReadWhole(path, *text) ? text : nullptr;
}

int CheckFolder(const fs::path& root, const std::vector<std::string>& keyPaths,
                const std::vector<std::string>& excludes) {
    const fs::path manifest = root / "update.cfg";
    std::string manifestText;
    if (!fs::is_regular_file(manifest) || !ReadWhole(manifest, manifestText)) {
        fprintf(stderr, "publish_manifest: %s has no update.cfg\n", root.string().c_str());
        return ExitFailed;
    }
    std::vector<std::string> problems;
    const std::vector<ManifestEntry> list = ReadManifestAsLauncher(manifest, &problems);
    const int entries = (int)list.size();

    std::vector<std::string> files;
    if (!ListFiles(root, files)) return ExitFailed;
    std::set<std::string> listed, expectedIndexes;
    unsigned long long bytes = 0;
    for (int i = 0; i < entries; ++i) {
        listed.insert(list[i].path);
        bytes += SizeOf(root / list[i].path);
    }
    for (int i = 0; i < entries; ++i) {
        unsigned long long size = SizeOf(root / list[i].path);
        if (!WantsBlockIndex(size) || !IsHexDigest40(list[i].digest)) continue;
        std::string name = IndexPathOf(list[i].path, list[i].digest), text;
        expectedIndexes.insert(name);
        std::string problem = IndexProblem(name, Beside(root / name, &text), list[i].digest, size);
        if (!problem.empty()) problems.push_back(problem);
    }

    Progress progress(entries, bytes);
    for (int i = 0; i < entries; ++i) {
        const fs::path file = root / list[i].path;
        std::error_code error;
        if (!fs::is_regular_file(file, error)) {
            problems.push_back(std::string("missing: ") + list[i].path);
            progress.Step(0);
            continue;
        }
        if (int readError = ComputeFileDigest(file.string().c_str())) {
            problems.push_back(std::string("unreadable: ") + list[i].path + ": " + strerror(readError));
        } else if (!IsHexDigest40(list[i].digest)) {
            // The launcher then downloads the file at every start, since no digest of it can be equal.
            problems.push_back(std::string("not a SHA-1 digest: ") + list[i].path + " " + list[i].digest);
        } else if (!EqualIgnoringCase(DigestText, list[i].digest)) {
            problems.push_back(std::string("differs: ") + list[i].path + " (" + DigestText + " in the folder, " +
                               list[i].digest + " listed)");
        }
        progress.Step(SizeOf(file));
    }
    progress.Finish();
    LeftOut leftOut(excludes);
    for (const std::string& file : files) {
        std::string label;
        if (const char* problem = KeyProblem(root / file, fs::path(), &label)) {
            problems.push_back("private key: " + KeyRefusal(file, problem, label));
            continue;
        }
        bool extra = std::find_if(std::begin(PublishedExtras), std::end(PublishedExtras),
                                  [&](const char* name) { return file == name; }) != std::end(PublishedExtras);
        if (extra || listed.count(file) || expectedIndexes.count(file) || leftOut.Skips(file)) continue;
        problems.push_back((IsBlockIndexPath(file) ? "stale block index: " : "not listed: ") + file);
    }

    for (const std::string& problem : problems) printf("%s\n", problem.c_str());
    int mismatches = (int)problems.size();
    const SignatureFile* signature;
    bool unverified, matched;
    std::string signatureText, listingText;
    mismatches += CheckSignature(manifestText, Beside(root / SignatureFileName, &signatureText), keyPaths, &signature,
                                 &unverified);
    mismatches += CheckListing(Beside(root / FileListingName, &listingText), list, signature, Fingerprints, &matched);
    std::string mirrorText;
    mismatches += CheckMirrors(Beside(root / MirrorListName, &mirrorText), signature);
    for (int i = 0; matched && i < entries; ++i) {
        uint8_t sha256[Sha256Size];
        uint64_t length = 0;
        const fs::path file = root / list[i].path;
        if (!fs::is_regular_file(file) || !Sha256OfFileAt(file.string(), sha256, &length)) continue;  // said above
        std::string problem = ListingMismatch(list[i].path, sha256, length, Fingerprints[i], "in the folder");
        if (!problem.empty()) {
            printf("%s\n", problem.c_str());
            ++mismatches;
        }
    }
    const char* suffix = unverified ? NotVerified : "";
    if (mismatches) {
        printf("publish_manifest: %d mismatch(es) between %s and its update.cfg%s\n", mismatches,
               root.string().c_str(), suffix);
        return ExitRefused;
    }
    printf("publish_manifest: %d files match %s%s\n", entries, manifest.string().c_str(), suffix);
    return ExitOk;
}

// Why a launcher could not use an answer, for a line "unavailable: PATH (...)"; empty for a whole 200 answer.
std::string AnswerProblem(bool answered, const HttpAnswer& answer, const std::string& error) {
    if (!answered) return error;
    if (answer.status != 200) return "HTTP " + std::to_string(answer.status);
    if (answer.cut) return "cut off after " + std::to_string(answer.bytes) + " bytes";
    return "";
}

// A file fetched whole into memory, as a launcher fetches the list, its signature and its listing.
struct Fetched {
    bool answered = false;
    HttpAnswer answer;
    std::string body, error;
    bool tooLong = false;

    bool Usable() const { return answered && AnswerProblem(answered, answer, error).empty() && !tooLong; }
    // Absent: a server answers 404 for a file that is not published.
    bool Absent() const { return answered && answer.status == 404; }
    std::string Problem(size_t limit) const {
        if (tooLong) return "longer than " + std::to_string(limit) + " bytes, which launchers refuse";
        return AnswerProblem(answered, answer, error);
    }
};

Fetched FetchWhole(const HttpBase& base, const std::string& path, size_t limit) {
    Fetched fetched;
    HttpBodySink keep = [&](const char* data, size_t size) {
        if (fetched.body.size() + size > limit) {
            fetched.tooLong = true;
            return false;
        }
        fetched.body.append(data, size);
        return true;
    };
    fetched.answered = HttpGet(base, path, keep, &fetched.answer, &fetched.error);
    return fetched;
}

// A file that changes at every publish must be revalidated by caches, or they hand launchers yesterday's copy.
void NoteCaching(const std::string& path, const Fetched& fetched) {
    std::string rule = fetched.answer.cacheControl;
    for (char& c : rule) c = FoldCase(c);
    if (!fetched.answered || fetched.answer.status != 200 || rule.find("no-cache") != std::string::npos ||
        rule.find("no-store") != std::string::npos || rule.find("max-age=0") != std::string::npos) {
        return;
    }
    printf("note: %s is served %s; a cache may hand launchers an old copy after a publish (serve it with "
           "Cache-Control: no-cache)\n", path.c_str(),
           rule.empty() ? "without Cache-Control" : ("with Cache-Control: " + fetched.answer.cacheControl).c_str());
}

// Compares a served list file with the folder's copy (folder null: none given).
void CompareWithFolder(const fs::path* folder, const std::string& path, const std::string* served,
                       std::vector<std::string>* problems) {
    if (!folder) return;
    std::string text;
    const std::string* local = Beside(*folder / path, &text);
    const std::string where = folder->string();
    if (served && !local) problems->push_back("served but not in " + where + ": " + path);
    if (!served && local) problems->push_back("in " + where + " but not served: " + path);
    if (served && local && *served != *local) problems->push_back("served copy differs from " + where + ": " + path);
}

// Fetches update.cfg, its signature, its listing and every listed file (and block index) from base as a launcher
// does, and lists what a launcher would refuse; with folder, also where the served copy differs from it.
int CheckServed(const HttpBase& base, const std::string& url, const fs::path* folder,
                const std::vector<std::string>& keyPaths) {
    Fetched manifest = FetchWhole(base, "update.cfg", MaxManifestBytes);
    if (!manifest.Usable()) {
        printf("unavailable: update.cfg (%s)\n", manifest.Problem(MaxManifestBytes).c_str());
        printf("publish_manifest: %s serves no update.cfg that launchers can use\n", url.c_str());
        return manifest.answered ? ExitRefused : ExitFailed;
    }
    NoteCaching("update.cfg", manifest);
    std::vector<std::string> problems;
    // The launcher's reader takes a file; a temporary one in the system's folder holds the served list.
    const fs::path copy = fs::temp_directory_path() / ("publish_manifest-" + std::to_string(getpid()) + ".cfg");
    if (!WriteWhole(copy, manifest.body)) {
        fprintf(stderr, "publish_manifest: cannot write %s\n", copy.string().c_str());
        return ExitFailed;
    }
    const std::vector<ManifestEntry> list = ReadManifestAsLauncher(copy, &problems);
    const int entries = (int)list.size();
    std::error_code error;
    fs::remove(copy, error);

    Fetched signature = FetchWhole(base, SignatureFileName, MaxSignatureBytes);
    if (!signature.Absent() && !signature.Usable()) {
        problems.push_back(std::string("unavailable: ") + SignatureFileName + " (" +
                           signature.Problem(MaxSignatureBytes) + ")");
    }
    Fetched listing;
    if (!signature.Absent()) {
        NoteCaching(SignatureFileName, signature);
        listing = FetchWhole(base, FileListingName, MaxFileListingSize);
        if (!listing.Absent() && !listing.Usable()) {
            problems.push_back(std::string("unavailable: ") + FileListingName + " (" +
                               listing.Problem(MaxFileListingSize) + ")");
        }
        NoteCaching(FileListingName, listing);
    }
    // Every server is asked for the mirror list: an unsigned launcher takes one too.
    Fetched mirrors = FetchWhole(base, MirrorListName, MaxMirrorListSize);
    if (!mirrors.Absent() && !mirrors.Usable()) {
        problems.push_back(std::string("unavailable: ") + MirrorListName + " (" + mirrors.Problem(MaxMirrorListSize) +
                           ")");
    }
    if (mirrors.Usable()) NoteCaching(MirrorListName, mirrors);
    CompareWithFolder(folder, "update.cfg", &manifest.body, &problems);
    CompareWithFolder(folder, SignatureFileName, signature.Usable() ? &signature.body : nullptr, &problems);
    CompareWithFolder(folder, FileListingName, listing.Usable() ? &listing.body : nullptr, &problems);
    CompareWithFolder(folder, MirrorListName, mirrors.Usable() ? &mirrors.body : nullptr, &problems);

    // The list's own lines first, as for a folder, then the signature's and the listing's, then each file's.
    for (const std::string& problem : problems) printf("%s\n", problem.c_str());
    int count = (int)problems.size();
    problems.clear();
    const SignatureFile* signatureFile;
    bool unverified, matched;
    count += CheckSignature(manifest.body, signature.Usable() ? &signature.body : nullptr, keyPaths, &signatureFile,
                            &unverified);
    count += CheckListing(listing.Usable() ? &listing.body : nullptr, list, signatureFile, Fingerprints, &matched);
    count += CheckMirrors(mirrors.Usable() ? &mirrors.body : nullptr, signatureFile);

    unsigned long long listedBytes = 0;
    for (int i = 0; matched && i < entries; ++i) listedBytes += Fingerprints[i].length;
    Progress progress(entries, listedBytes);
    for (int i = 0; i < entries; ++i) {
        const std::string path = list[i].path;
        const FileFingerprint* listed = matched ? &Fingerprints[i] : nullptr;
        Sha1 sha1;
        Sha256 sha256;
        Sha1Init(sha1);
        Sha256Init(sha256);
        bool longer = false;
        // A launcher cuts off a body longer than its signed length.
        HttpBodySink digest = [&](const char* data, size_t size) {
            if (listed && sha256.length + size > listed->length) {
                longer = true;
                return false;
            }
            Sha1Update(sha1, data, size);
            Sha256Update(sha256, data, size);
            return true;
        };
        HttpAnswer answer;
        std::string fetchError;
        bool answered = HttpGet(base, path, digest, &answer, &fetchError);
        char served[DigestTextSize];
        uint8_t served256[Sha256Size];
        const uint64_t length = sha256.length;
        Sha1FinishHex(sha1, served);
        Sha256Finish(sha256, served256);
        progress.Step(length);
        const std::string unavailable = AnswerProblem(answered, answer, fetchError);
        if (!unavailable.empty()) {
            problems.push_back("unavailable: " + path + " (" + unavailable + ")");
            continue;
        }
        if (longer) {
            problems.push_back(std::string("differs from ") + FileListingName + ": " + path + " (more than " +
                               std::to_string(listed->length) + " bytes served, " + std::to_string(listed->length) +
                               " listed)");
            continue;
        }
        if (!IsHexDigest40(list[i].digest)) {
            problems.push_back("not a SHA-1 digest: " + path + " " + list[i].digest);
        } else if (!EqualIgnoringCase(served, list[i].digest)) {
            problems.push_back("differs: " + path + " (" + served + " served, " + list[i].digest + " listed)");
        } else if (listed) {
            std::string problem = ListingMismatch(list[i].path, served256, length, *listed, "served");
            if (!problem.empty()) problems.push_back(problem);
        }
        if (WantsBlockIndex(length) && IsHexDigest40(list[i].digest)) {
            const std::string name = IndexPathOf(path, list[i].digest);
            Fetched index = FetchWhole(base, name, MaxBlockIndexBytes);
            if (!index.Absent() && !index.Usable()) {
                problems.push_back("unavailable: " + name + " (" + index.Problem(MaxBlockIndexBytes) + ")");
            } else {
                std::string problem =
                    IndexProblem(name, index.Usable() ? &index.body : nullptr, list[i].digest, length);
                if (!problem.empty()) problems.push_back(problem);
            }
        }
        if (folder) {
            const fs::path local = *folder / path;
            if (!fs::is_regular_file(local, error)) {
                problems.push_back("not in " + folder->string() + ": " + path);
            } else if (ComputeFileDigest(local.string().c_str()) || !EqualIgnoringCase(DigestText, served)) {
                problems.push_back("served copy differs from " + folder->string() + ": " + path);
            }
        }
    }
    progress.Finish();
    for (const std::string& problem : problems) printf("%s\n", problem.c_str());
    count += (int)problems.size();
    const char* suffix = unverified ? NotVerified : "";
    if (count) {
        printf("publish_manifest: %d problem(s) with what %s serves%s\n", count, url.c_str(), suffix);
        return ExitRefused;
    }
    printf("publish_manifest: %d files served by %s match its update.cfg%s\n", entries, url.c_str(), suffix);
    return ExitOk;
}

// Prints what to upload (or purge from a cache) after publishing root, whose update.cfg replaces oldList: every
// game file whose digest changed or that is new, each followed by its block index, then the listing and the
// signature, then update.cfg last, so that a launcher never reads a list that names what is not there yet.
int PrintChangedSince(const fs::path& oldList, const fs::path& root) {
    const fs::path manifest = root / "update.cfg";
    for (const fs::path& list : {oldList, manifest}) {
        std::error_code error;
        if (!fs::is_regular_file(list, error)) {
            fprintf(stderr, "publish_manifest: %s is not a file\n", list.string().c_str());
            return ExitFailed;
        }
    }
    std::map<std::string, std::string> before;
    for (const ManifestEntry& entry : ReadManifestAsLauncher(oldList, nullptr)) before[entry.path] = entry.digest;
    const std::vector<ManifestEntry> list = ReadManifestAsLauncher(manifest, nullptr);
    std::error_code error;
    for (size_t i = 0; i < list.size(); ++i) {
        auto old = before.find(list[i].path);
        if (old != before.end() && EqualIgnoringCase(old->second.c_str(), list[i].digest)) continue;
        printf("%s\n", list[i].path);
        const std::string index = IndexPathOf(list[i].path, list[i].digest);
        if (!index.empty() && fs::is_regular_file(root / index, error)) printf("%s\n", index.c_str());
    }
    for (const char* name : {MirrorListName, FileListingName, SignatureFileName}) {
        if (fs::is_regular_file(root / name, error)) printf("%s\n", name);
    }
    printf("update.cfg\n");
    return ExitOk;
}

// Takes --block-index-min BYTES and --no-block-index out of the arguments; false on a bad value.
bool TakeBlockIndexOptions(int* argc, char** argv) {
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        if (strcmp(argv[i], "--no-block-index") == 0) {
            BlockIndexMin = -1;
        } else if (strcmp(argv[i], "--block-index-min") == 0) {
            char* end = nullptr;
            if (i + 1 >= *argc || !isdigit((unsigned char)argv[i + 1][0])) return false;
            BlockIndexMin = strtoll(argv[++i], &end, 10);
            if (*end || BlockIndexMin < 0) return false;
        } else {
            argv[kept++] = argv[i];
        }
    }
    *argc = kept;
    return true;
}

// The arguments left after the block index and signing options.
struct Arguments {
    bool check = false;
    std::vector<std::string> positional, excludes, keys;
    std::string folder;        // --folder: the game folder a served copy is compared with
    std::string changedSince;  // --changed-since: the older update.cfg
    MirrorOptions mirrors;     // --mirror, --no-mirrors
};

bool ReadArguments(int argc, char** argv, Arguments* arguments, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--check" || name == "--no-mirrors") {
            (name == "--check" ? arguments->check : arguments->mirrors.drop) = true;
            continue;
        }
        if (name.size() < 2 || name[0] != '-') {
            arguments->positional.push_back(name);
            continue;
        }
        std::string* single = name == "--folder" ? &arguments->folder
                              : name == "--changed-since" ? &arguments->changedSince
                                                          : nullptr;
        std::vector<std::string>* list = name == "--exclude" ? &arguments->excludes
                                         : name == "--key" ? &arguments->keys
                                         : name == "--mirror" ? &arguments->mirrors.urls
                                                              : nullptr;
        if (!single && !list) {
            *error = "unknown option " + name;
            return false;
        }
        if (i + 1 >= argc || !argv[i + 1][0]) {
            *error = name + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        if (name == "--exclude" && (value[0] == '/' || value.find('\\') != std::string::npos)) {
            *error = "--exclude " + value + ": give a pattern of paths relative to the game folder, with / separators";
            return false;
        }
        if (name == "--mirror") {
            std::vector<std::string>& urls = arguments->mirrors.urls;
            const char* problem = BaseUrlProblem(value.data(), value.size());
            if (!problem && std::find(urls.begin(), urls.end(), value) != urls.end()) problem = "is given twice";
            if (!problem && urls.size() == MaxMirrors) problem = "is one more than the 8 mirrors launchers take";
            if (problem) {
                *error = "--mirror " + value + " " + problem + "; give a base URL such as "
                         "http://mirror.example.com/Quorvane/";
                return false;
            }
        }
        if (single) *single = value;
        else list->push_back(value);
    }
    return true;
}

bool IsUrl(const std::string& text) {
    return text.find("://") != std::string::npos;
}

// Whether the options go together; the usage is printed otherwise.
bool ValidCombination(const Arguments& arguments, const SigningOptions& signing) {
    const bool sign = !signing.keyPath.empty();
    const size_t count = arguments.positional.size();
    const bool mirrors = !arguments.mirrors.urls.empty() || arguments.mirrors.drop;
    if (mirrors && (arguments.check || !arguments.changedSince.empty())) return false;
    if (!arguments.mirrors.urls.empty() && arguments.mirrors.drop) return false;
    if (!arguments.changedSince.empty()) {
        return count == 1 && !arguments.check && !sign && arguments.excludes.empty() && arguments.keys.empty() &&
               arguments.folder.empty();
    }
    if (arguments.check) {
        if (count != 1 || sign || arguments.keys.size() > MaxManifestKeys) return false;
        return IsUrl(arguments.positional[0]) ? arguments.excludes.empty() : arguments.folder.empty();
    }
    return (count == 1 || count == 2) && arguments.keys.empty() && arguments.folder.empty();
}

const char Usage[] =
    "usage: publish_manifest <game folder> [<output file>] [--exclude GLOB]... [--mirror URL... | --no-mirrors] "
    "[--sign KEY [--version N] [--expires-days D | --expires YYYY-MM-DD]]\n"
    "       publish_manifest --check <game folder> [--exclude GLOB]... [--key PUBLIC_KEY]...\n"
    "       publish_manifest --check http://HOST[:PORT]/PATH/ [--folder <game folder>] [--key PUBLIC_KEY]...\n"
    "       publish_manifest --changed-since <older update.cfg> <game folder>\n"
    "       publish_manifest --make-key BASE\n"
    "  writing and checking: [--block-index-min BYTES (default 1048576) | --no-block-index]\n";

bool IsFolder(const std::string& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) return true;
    fprintf(stderr, "publish_manifest: %s is not a folder\n", path.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (!TakeBlockIndexOptions(&argc, argv)) {
        fprintf(stderr, "publish_manifest: --block-index-min takes a number of bytes\n");
        return ExitFailed;
    }
    SigningOptions signing;
    std::string error;
    if (!TakeSigningOptions(&argc, argv, &signing, &error)) {
        fprintf(stderr, "publish_manifest: %s\n", error.c_str());
        return ExitFailed;
    }
    Arguments arguments;
    if (!ReadArguments(argc, argv, &arguments, &error)) {
        fprintf(stderr, "publish_manifest: %s\n%s", error.c_str(), Usage);
        return ExitFailed;
    }
    if (!signing.makeKey.empty()) {
        if (argc != 1 || !signing.keyPath.empty()) {
            fprintf(stderr, "usage: publish_manifest --make-key BASE\n");
            return ExitFailed;
        }
        if (!MakeKeyPair(signing.makeKey, &error)) {
            fprintf(stderr, "publish_manifest: %s\n", error.c_str());
            return ExitFailed;
        }
        printf("publish_manifest: private key %s.key (keep it offline, readable by you only), public key %s.pub\n",
               signing.makeKey.c_str(), signing.makeKey.c_str());
        return ExitOk;
    }
    if (!ValidCombination(arguments, signing)) {
        fputs(Usage, stderr);
        return ExitFailed;
    }
    const std::string& target = arguments.positional[0];
    if (!arguments.changedSince.empty()) {
        return IsFolder(target) ? PrintChangedSince(arguments.changedSince, target) : ExitFailed;
    }
    if (arguments.check && IsUrl(target)) {
        HttpBase base;
        if (const char* unavailable = HttpUnavailable()) {
            fprintf(stderr, "publish_manifest: %s\n", unavailable);
            return ExitFailed;
        }
        if (!ParseHttpBase(target, &base, &error)) {
            fprintf(stderr, "publish_manifest: %s\n", error.c_str());
            return ExitFailed;
        }
        if (!arguments.folder.empty() && !IsFolder(arguments.folder)) return ExitFailed;
        const fs::path folder = arguments.folder;
        return CheckServed(base, target, arguments.folder.empty() ? nullptr : &folder, arguments.keys);
    }
    if (!IsFolder(target)) return ExitFailed;
    if (arguments.check) return CheckFolder(target, arguments.keys, arguments.excludes);
    const fs::path output = arguments.positional.size() == 2 ? fs::path(arguments.positional[1])
                                                             : fs::path(target) / "update.cfg";
    return WriteManifest(target, output, signing, arguments.excludes, arguments.mirrors);
}
