// Downloader: fetches base URL + relative path into the same relative path; the main thread for the manifest, the
// update run's transfer threads for game files. The names, checks and outcome lines are portable (downloader.cpp);
// the transfer itself is Win32 (downloader_win.cpp).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "updater/net/transfer.h"

enum { UrlBufferSize = 400 };

// "http://" + host + "/Quorvane/", the host fixed when the program is built.
extern const char UpdateBaseUrl[];

struct FileFingerprint;

// One file to fetch.
struct FetchRequest {
    const char* path;                    // relative path on the server and, unless installAs is set, in the folder
    const char* expectedDigest;          // listed SHA-1 (null: none); when 40 hexadecimal digits, what arrives must match
    const FileFingerprint* fingerprint;  // the signed listing's length and SHA-256 of the file, or null
    const char* installAs;               // where the checked file is moved; null for path
    TransferLimits limits;
    int occurrence;                      // among the pending files that list the same digest, for its partial's name
    int pendingIndex = -1;               // its place among a run's pending files; -1 outside a run
    const char* query = nullptr;         // added to the request's URL after "?", not to the logged URL; null: none
    // The host's base URL; null: the list host (UseListHost). A run's file (pendingIndex 0 or more) takes its host per attempt
    // from the run's hosts instead, when UseRunHosts set them.
    const char* base = nullptr;
    char* problem = nullptr;             // when set, why the last attempt failed (FormatHostProblem, ProblemTextSize)
};

enum { ProblemTextSize = 80 };

class HostChoice;

// The run's hosts for its files, or null; the update run sets them for its transfers and clears them before its
// end. FetchFile calls into the choice under a lock of its own, since HostChoice has none.
void UseRunHosts(HostChoice* choice);
// The run's hosts not dropped for the run; 1 when UseRunHosts set none.
int RunHostsInUse();
// The base URL the next attempt of request would go to, without counting it: the run's choice for a run's file,
// else request.base or the list host. A patch fetches its block index and ranges there.
std::string PreferredBase(const FetchRequest& request);

// The host start-up asks for the list and the files beside it (DownloadFile), and the first-byte bound of each
// answer where another host could be asked instead (0: none); main thread. Until called: UpdateBaseUrl, no bound.
void UseListHost(const char* base, unsigned firstByteMs);
// Why the last DownloadFile failed, in a few words (FormatHostProblem); main thread.
const char* LastDownloadProblem();

// Fetches one file through the staging folder within the request's bounds, retrying and resuming as
// they allow, and moves it into place once it passed every check. Appends its log lines (one per
// retry, then exactly one outcome line) to lines instead of logging them, so that parallel transfers
// keep the log in manifest order. Safe on any thread. True when the file was installed.
bool FetchFile(const FetchRequest& request, std::vector<std::string>& lines);

struct ByteRange;

// Fetches from the host of base (null: the list host) the bytes of range of path with one closed Range request
// ("bytes=FIRST-LAST"), bounded by the range's length and the game-file time bounds, never retried, and appends them
// to the file into. The answer must be a 206 for exactly that range of a file of fileLength bytes. Returns null, or what went wrong. Safe on any thread.
const char* FetchRange(const char* base, const char* path, const ByteRange& range, uint64_t fileLength,
                       const char* into);

struct RangeOutput;

// Fetches from the host of base (null: the list host) count ranges of path (in file order, apart, 2 to
// MaxRangesPerRequest) with one request for all of them, bounded like FetchRange; each range's bytes go to out as
// they arrive. Returns null, or what went wrong. Sets *oneByOne when the server does not send several ranges in one
// answer: the ranges that out was not told are done are then to be fetched one per request, and the server is
// remembered for the run, so that later calls to it set *oneByOne at once without a request. Safe on any thread.
const char* FetchRangesAtOnce(const char* base, const char* path, const ByteRange* ranges, size_t count,
                              uint64_t fileLength, RangeOutput& out, bool* oneByOne);

struct StreamDigests;

// The step every fetched or rebuilt file ends in: checks the staged file against the request's listed digest
// (knownDigest when the caller computed it already, else streamed's when it took the whole file as it was written,
// otherwise computed here; the digest found goes into arrived, DigestTextSize bytes), then against its signed
// length and SHA-256 when there is a fingerprint (streamed's too where it has them), and moves it into the
// request's place. TransferDone, or the mismatch or the local failure (with the thread's error in lastError).
AttemptVerdict InstallChecked(const FetchRequest& request, const char* staged, const char* knownDigest, char* arrived,
                              long* lastError, StreamDigests* streamed = nullptr);

// Fetches one file from the list host (UseListHost) on the calling thread, never retried, at most maxBytes long
// (0: no bound) and whole within the transfer time-out of its request, and logs its lines (or, when lines is
// given, appends them there). True when it was installed.
// query, when given, is added to the request (for example "sha256=<digest>", so that no cache on the
// way can answer with a copy it holds under the plain URL).
bool DownloadFile(const char* path, uint64_t maxBytes, const char* query = nullptr,
                  std::vector<std::string>* lines = nullptr);

// Deletes every non-cookie entry of the URL cache; silent.
void PurgeUrlCache();

// Downloads first go to a file in this folder of the game folder (the same volume, so the final
// move is atomic). Manifest paths never hold a space, so no manifest entry can reach it.
#define StagingFolder "Launcher staging"

// Builds the temporary name for path: the staging folder, then path with its separators replaced
// by '#', so that every temporary file lies directly in the staging folder. A pending file of a run
// (pendingIndex 0 or more) has its index and a blank put first, so that no two files in flight share
// a name, whatever their paths ("a/b" beside "a#b", one path listed twice, case variants). False when
// it does not fit in size bytes.
bool MakeDownloadTempName(const char* path, int pendingIndex, char* name, size_t size);

// Deletes every file in the staging folder (what an interrupted run left behind) except the partial
// bodies whose digest keepDigest accepts (null: none); the update run calls it at its start. Silent.
void EmptyStagingFolder(const std::function<bool(const char* digest)>& keepDigest);
// The same, then removes the folder when nothing was kept; the update run calls it at its end. Silent.
void RemoveStagingFolder(const std::function<bool(const char* digest)>& keepDigest);

// A transfer that does not connect, or receives nothing, for this long is abandoned. Fixed once for a whole
// build (30 s; shorter only in the program built for the tests), so that no file sees another value.
#ifndef LAUNCHER_TIMEOUT_SECONDS
#error "LAUNCHER_TIMEOUT_SECONDS is set for the whole build by CMakeLists.txt"
#endif
enum { DownloadTimeoutSeconds = LAUNCHER_TIMEOUT_SECONDS };

// Whether what arrived may be installed: always when the expected digest is not 40 hexadecimal
// characters, otherwise only when the arrived digest equals it without regard to case.
bool DigestAccepted(const char* expectedDigest, const char* arrivedDigest);

struct DownloadLineArgs {
    const char* path;
    const char* url;
    long lastError;
    const char* arrivedDigest;
    const char* expectedDigest;
    uint64_t maxBytes;
};

// The line that says a transfer is tried again: attempt is the number of the next attempt, of attempts in all.
void FormatRetryLine(char* buffer, size_t size, const char* path, TransferFailure failure, int attempt, int attempts);

// Formats the one log line of a download into buffer (bounded by size).
void FormatDownloadLine(char* buffer, size_t size, DownloadLineKind kind, const DownloadLineArgs& args);

// The length the stored body must have, from a block of response headers ("Name: value" lines
// ended by CR LF): the Content-Length value, or -1 when there is none, it is not a number, or a
// Content-Encoding other than "identity" makes the stored (decoded) body differ from it.
int64_t ExpectedBodyLength(const char* headers);

// The value of header name (with its colon, in any case) in a block of response headers, blanks
// skipped, up to the end of its line; null when absent.
const char* HeaderValue(const char* headers, const char* name);
