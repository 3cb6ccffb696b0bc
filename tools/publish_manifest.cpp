// Publisher tool: writes a game folder's update.cfg with the launcher's own digest and path rules, or
// checks a published folder against it; single-threaded.
//
//   publish_manifest <game folder> [<output file>] [--sign KEY [--version N] [--expires-days D | --expires DATE]]
//   publish_manifest --check <game folder> [--key PUBLIC_KEY]...
//   publish_manifest --make-key BASE
//   Writing and checking also take --block-index-min BYTES (default 1 MiB) or --no-block-index.
//
// Writing lists every regular file under the folder (the output file, its signature and listing excepted) as
// "<path> <digest>\n", paths relative with "/" separators in byte order, digests in lowercase. Refuses,
// with a message and a non-zero exit, a folder the launcher could not use. The output defaults to
// <game folder>/update.cfg and is written whole or not at all. With --sign, <output file>.files (every
// file's SHA-256 and length) and <output file>.sig are written beside it (see updater/trust/signature.h);
// --make-key writes a new key pair BASE.key (owner-only) and BASE.pub. Every listed file of at least
// the --block-index-min size gets its block index beside it (updater/delta/block_index.h), written before
// update.cfg; index files of earlier versions are removed after it.
//
// Checking reads <game folder>/update.cfg as the launcher reads it and lists every entry the launcher
// would skip, every listed file that is missing or differs, and every file that is not listed; where
// update.cfg.sig exists it checks that too (its signature with the --key files: a launcher built with
// them), where update.cfg.files exists, that it matches update.cfg and every file's SHA-256 and
// length, and every block index: present for each listed file of the threshold size, decoding, and
// naming the file's digest and length; an index of no listed version is stale. It exits with 1 when
// there is any mismatch.
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "common/file.h"
#include "common/log.h"
#include "common/text.h"
#include "tools/publish_sign.h"
#include "updater/delta/block_index.h"
#include "updater/sha1.h"
#include "updater/net/downloader.h"
#include "updater/manifest.h"

namespace fs = std::filesystem;

namespace {

enum { ExitOk = 0, ExitRefused = 1, ExitFailed = 2 };

// Files of a published folder that are not game files.
const char* const PublishedExtras[] = {"update.cfg",      "update.cfg.tmp",      SignatureFileName,
                                       SignatureFileName ".tmp", FileListingName, FileListingName ".tmp"};

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

int WriteManifest(const fs::path& root, const fs::path& output, const SigningOptions& signing) {
    std::error_code error;
    const fs::path outputFull = fs::weakly_canonical(fs::absolute(output), error);
    fs::path signatureOutput = output, listingOutput = output;
    signatureOutput += ".sig";
    listingOutput += ".files";
    const fs::path signatureFull = fs::weakly_canonical(fs::absolute(signatureOutput), error);
    const fs::path listingFull = fs::weakly_canonical(fs::absolute(listingOutput), error);
    std::vector<std::string> all, paths, indexes;
    if (!ListFiles(root, all)) return ExitFailed;
    int refused = 0;
    unsigned long long bytes = 0;
    for (const std::string& relative : all) {
        const fs::path full = fs::weakly_canonical(fs::absolute(root / relative), error);
        if (full == outputFull || full == signatureFull || full == listingFull) continue;
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
    if (paths.size() + refused > MaxManifestEntries) {
        fprintf(stderr, "publish_manifest: %zu files, but the launcher reads at most %d\n", paths.size() + refused,
                (int)MaxManifestEntries);
        return ExitRefused;
    }
    if (refused) {
        fprintf(stderr, "publish_manifest: %d file(s) refused; update.cfg not written\n", refused);
        return ExitRefused;
    }

    const bool sign = !signing.keyPath.empty();
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
    if (sign && !BuildSignatureFile(signing, content, listing, signatureOutput.string(), &signatureText, &summary,
                                    &signingError)) {
        fprintf(stderr, "publish_manifest: %s\n", signingError.c_str());
        return ExitFailed;
    }
    if (!WriteWhole(output, content)) {
        fprintf(stderr, "publish_manifest: cannot write %s\n", output.string().c_str());
        return ExitFailed;
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
    } else if (fs::exists(signatureOutput, error) || fs::exists(listingOutput, error)) {
        fprintf(stderr, "publish_manifest: warning: %s and %s are from an earlier signing and do not match the new "
                        "%s; launchers built with a key refuse them until you sign again\n",
                signatureOutput.string().c_str(), listingOutput.filename().string().c_str(),
                output.filename().string().c_str());
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
    return ExitOk;
}

// Checks update.cfg.sig against update.cfg: its form and the manifest digest it names, and with public keys its
// signature and expiry, as a launcher built with those keys would. Returns the number of problems found; signature
// receives the file when one was read whole.
int CheckSignature(const fs::path& root, const std::vector<std::string>& keyPaths, const SignatureFile** signature) {
    static SignatureFile file;
    *signature = nullptr;
    std::string manifest, text, keyText;
    if (!ReadWhole(root / "update.cfg", manifest)) return 1;
    if (!ReadWhole(root / SignatureFileName, text)) {
        if (keyPaths.empty()) return 0;
        printf("no signature: %s is missing\n", SignatureFileName);
        return 1;
    }
    uint8_t digest[Sha256Size];
    if (!Sha256Of(manifest, digest)) {
        printf("publish_manifest: this build cannot check signatures\n");
        return 1;
    }
    if (const char* problem = ReadSignatureFile(text.data(), text.size(), &file)) {
        printf("signature file: %s\n", problem);
        return 1;
    }
    *signature = &file;
    if (memcmp(digest, file.manifestSha256, Sha256Size) != 0) {
        printf("signature file: it was made for another update.cfg; sign again\n");
        return 1;
    }
    char date[16] = "never";
    if (file.expires) FormatUtcDate(date, sizeof date, (int64_t)file.expires);
    const std::string keyId = HexText(file.keyId, KeyIdSize);
    if (keyPaths.empty()) {
        printf("publish_manifest: %s names this update.cfg (key %s, version %llu, expires %s); give --key to verify "
               "it\n", SignatureFileName, keyId.c_str(), (unsigned long long)file.version, date);
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
    ManifestVerdict verdict = CheckManifestSignature(text.data(), text.size(), digest, keys, (int)keyPaths.size(),
                                                     VerifyStatement, 0, (int64_t)time(nullptr), &checked);
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

// Checks update.cfg.files against the signature (when one was read), the entries of update.cfg as the launcher
// reads them, and every listed file's SHA-256 and length. Returns the number of problems found.
int CheckListing(const fs::path& root, const std::vector<ManifestEntry>& list, const SignatureFile* signature) {
    const int entries = (int)list.size();
    std::string text;
    if (!ReadWhole(root / FileListingName, text)) {
        if (!signature) return 0;
        printf("no file listing: %s is missing, so signed launchers refuse update.cfg\n", FileListingName);
        return 1;
    }
    uint8_t textSha256[Sha256Size];
    if (!Sha256Of(text, textSha256)) return 0;  // said once by CheckSignature already
    SignatureFile named{};
    if (signature) named = *signature;
    else memcpy(named.listingSha256, textSha256, Sha256Size);  // unsigned: its form and content alone
    std::vector<FileFingerprint> fingerprints(list.size());
    char problem[400];
    if (!MatchFileListing(text.data(), text.size(), textSha256, named, list.data(), entries, fingerprints.data(),
                          problem, sizeof problem)) {
        printf("%s: %s\n", FileListingName, problem);
        return 1;
    }
    int problems = 0;
    for (int i = 0; i < entries; ++i) {
        uint8_t sha256[Sha256Size];
        uint64_t length = 0;
        const fs::path file = root / list[i].path;
        if (!fs::is_regular_file(file) || !Sha256OfFileAt(file.string(), sha256, &length)) continue;  // said above
        if (length != fingerprints[i].length) {
            printf("differs from %s: %s (%llu bytes in the folder, %llu listed)\n", FileListingName, list[i].path,
                   (unsigned long long)length, (unsigned long long)fingerprints[i].length);
            ++problems;
        } else if (memcmp(sha256, fingerprints[i].sha256, Sha256Size) != 0) {
            printf("differs from %s: %s (SHA-256 %s in the folder, %s listed)\n", FileListingName, list[i].path,
                   HexText(sha256, Sha256Size).c_str(), HexText(fingerprints[i].sha256, Sha256Size).c_str());
            ++problems;
        }
    }
    return problems;
}

int CheckFolder(const fs::path& root, const std::vector<std::string>& keyPaths) {
    const fs::path manifest = root / "update.cfg";
    if (!fs::is_regular_file(manifest)) {
        fprintf(stderr, "publish_manifest: %s has no update.cfg\n", root.string().c_str());
        return ExitFailed;
    }
    // Read exactly as the launcher reads it: each entry it would skip is logged, and counted by the reader.
    const Manifest read = LoadManifest(manifest.string().c_str());
    const std::vector<ManifestEntry>& list = read.entries;
    const int entries = (int)list.size();
    int mismatches = read.refusedLines;

    std::vector<std::string> files;
    if (!ListFiles(root, files)) return ExitFailed;
    std::set<std::string> listed, expectedIndexes;
    unsigned long long bytes = 0;
    for (int i = 0; i < entries; ++i) {
        listed.insert(list[i].path);
        bytes += SizeOf(root / list[i].path);
    }
    std::vector<std::string> problems;
    for (int i = 0; i < entries; ++i) {
        unsigned long long size = SizeOf(root / list[i].path);
        if (!WantsBlockIndex(size) || !IsHexDigest40(list[i].digest)) continue;
        std::string name = IndexPathOf(list[i].path, list[i].digest), text;
        expectedIndexes.insert(name);
        BlockIndex index;
        if (!ReadWhole(root / name, text)) {
            problems.push_back("missing block index: " + name);
        } else if (const char* problem = ReadBlockIndex(text.data(), text.size(), list[i].digest, &index)) {
            problems.push_back("bad block index: " + name + ": " + problem);
        } else if (index.fileLength != size) {
            problems.push_back("bad block index: " + name + ": made for a file of another length");
        }
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
    for (const std::string& file : files) {
        bool extra = std::find_if(std::begin(PublishedExtras), std::end(PublishedExtras),
                                  [&](const char* name) { return file == name; }) != std::end(PublishedExtras);
        if (extra || listed.count(file) || expectedIndexes.count(file)) continue;
        problems.push_back((IsBlockIndexPath(file) ? "stale block index: " : "not listed: ") + file);
    }

    for (const std::string& problem : problems) printf("%s\n", problem.c_str());
    mismatches += (int)problems.size();
    const SignatureFile* signature;
    mismatches += CheckSignature(root, keyPaths, &signature);
    mismatches += CheckListing(root, list, signature);
    if (mismatches) {
        printf("publish_manifest: %d mismatch(es) between %s and its update.cfg\n", mismatches, root.string().c_str());
        return ExitRefused;
    }
    printf("publish_manifest: %d files match %s\n", entries, manifest.string().c_str());
    return ExitOk;
}

}  // namespace

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

int main(int argc, char** argv) {
    if (!TakeBlockIndexOptions(&argc, argv)) {
        fprintf(stderr, "publish_manifest: --block-index-min takes a number of bytes\n");
        return ExitFailed;
    }
    SigningOptions signing;
    std::string signingError;
    if (!TakeSigningOptions(&argc, argv, &signing, &signingError)) {
        fprintf(stderr, "publish_manifest: %s\n", signingError.c_str());
        return ExitFailed;
    }
    if (!signing.makeKey.empty()) {
        if (argc != 1 || !signing.keyPath.empty()) {
            fprintf(stderr, "usage: publish_manifest --make-key BASE\n");
            return ExitFailed;
        }
        if (!MakeKeyPair(signing.makeKey, &signingError)) {
            fprintf(stderr, "publish_manifest: %s\n", signingError.c_str());
            return ExitFailed;
        }
        printf("publish_manifest: private key %s.key (keep it offline, readable by you only), public key %s.pub\n",
               signing.makeKey.c_str(), signing.makeKey.c_str());
        return ExitOk;
    }
    bool check = argc >= 3 && strcmp(argv[1], "--check") == 0;
    std::vector<std::string> checkKeys;
    while (check && argc >= 5 && strcmp(argv[argc - 2], "--key") == 0) {
        checkKeys.insert(checkKeys.begin(), argv[argc - 1]);
        argc -= 2;
    }
    if (argc < 2 || argc > 3 || (!check && argv[1][0] == '-') || (check && !signing.keyPath.empty()) ||
        checkKeys.size() > MaxManifestKeys) {
        fprintf(stderr,
                "usage: publish_manifest <game folder> [<output file>] "
                "[--sign KEY [--version N] [--expires-days D | --expires YYYY-MM-DD]]\n"
                 "       publish_manifest --check <game folder> [--key PUBLIC_KEY]...\n"
                 "       publish_manifest --make-key BASE\n"
                 "  writing and checking: [--block-index-min BYTES (default 1048576) | --no-block-index]\n");
        return ExitFailed;
    }
    const char* folder = check ? argv[2] : argv[1];
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        fprintf(stderr, "publish_manifest: %s is not a folder\n", folder);
        return ExitFailed;
    }
    if (check) return CheckFolder(folder, checkKeys);
    return WriteManifest(folder, argc == 3 ? fs::path(argv[2]) : fs::path(folder) / "update.cfg", signing);
}
