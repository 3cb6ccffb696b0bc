// The downloader's Win32 half: attempts over the transport, retries, the install step, the staging folder and the
// URL cache purge; the main thread for the list, the update run's transfer threads for game files.
#include <windows.h>
#include <wininet.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/text.h"
#include "updater/delta/block_index.h"
#include "updater/sha1.h"
#include "updater/net/downloader.h"
#include "updater/net/host_choice.h"
#include "updater/net/multipart.h"
#include "updater/net/progress.h"
#include "updater/net/transport.h"
#include "updater/trust/sha256.h"
#include "updater/trust/signature.h"

const char UpdateBaseUrl[] = "http://" LAUNCHER_UPDATE_HOST "/Quorvane/";

namespace {

long long FileSizeOf(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    return (long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

// Whether a whole file matches the signed listing's length and SHA-256.
bool MatchesFingerprint(const char* path, const FileFingerprint& fingerprint, unsigned char* buffer) {
    if (FileSizeOf(path) != (long long)fingerprint.length) return false;
    uint8_t sha256[Sha256Size];
    return Sha256File(path, sha256, buffer) == 0 && memcmp(sha256, fingerprint.sha256, Sha256Size) == 0;
}

}  // namespace

AttemptVerdict InstallChecked(const FetchRequest& request, const char* staged, const char* knownDigest, char* arrived,
                              long* lastError, StreamDigests* streamed) {
    *lastError = 0;
    const bool whole = streamed && streamed->whole;
    std::vector<unsigned char> buffer;
    if (IsHexDigest40(request.expectedDigest)) {
        if (knownDigest) {
            snprintf(arrived, DigestTextSize, "%s", knownDigest);
        } else if (whole) {
            Sha1FinishHex(streamed->sha1, arrived);
        } else {
            buffer.resize(DigestReadSize);
            if (DigestFile(staged, arrived, buffer.data()) != 0) arrived[0] = '\0';
        }
        if (!DigestAccepted(request.expectedDigest, arrived)) return {TransferDigestMismatch, LineDigestMismatch};
    }
    if (request.fingerprint) {
        bool matches;
        if (whole && streamed->sha256Wanted) {
            uint8_t sha256[Sha256Size];
            Sha256Finish(streamed->sha256, sha256);
            matches = streamed->bytes == request.fingerprint->length &&
                      memcmp(sha256, request.fingerprint->sha256, Sha256Size) == 0;
        } else {
            buffer.resize(DigestReadSize);
            matches = MatchesFingerprint(staged, *request.fingerprint, buffer.data());
        }
        if (!matches) return {TransferDigestMismatch, LineSignedMismatch};
    }
    const char* target = request.installAs ? request.installAs : request.path;
    if (!MoveFileExA(staged, target, MOVEFILE_REPLACE_EXISTING)) {
        *lastError = (long)GetLastError();
        return {TransferLocalError, LineError};
    }
    return {TransferDone, LineComplete};
}

namespace {

// The run's hosts, set by the update run for its transfers; every call into the choice is made under ChoiceLock.
HostChoice* RunHosts;
std::mutex ChoiceLock;

// The list host of start-up: written on the main thread before any transfer thread starts, read by all.
std::string ListBase = UpdateBaseUrl;
unsigned ListFirstByteMs;
char ListProblem[ProblemTextSize];

// Told when an attempt on a run's host ended, so that a file waiting for a free slot asks again.
std::condition_variable HostFreed;

// The host of the next attempt of a run's file, once one has a free slot: -1 when the file has no host left (or is
// fetched outside a run).
int BeginOnHost(const FetchRequest& request) {
    std::unique_lock<std::mutex> guard(ChoiceLock);
    if (!RunHosts || request.pendingIndex < 0) return -1;
    for (;;) {
        int host = RunHosts->Begin(request.pendingIndex);
        if (host != HostChoice::NoHostFree) return host;
        HostFreed.wait(guard);
    }
}

// Whether a host of the run besides host is still in use.
bool OtherHostLeft(int host) {
    std::lock_guard<std::mutex> guard(ChoiceLock);
    for (int other = 0; other < RunHosts->HostCount(); ++other) {
        if (other != host && !RunHosts->Dropped(other)) return true;
    }
    return false;
}

}  // namespace

void UseRunHosts(HostChoice* choice) {
    std::lock_guard<std::mutex> guard(ChoiceLock);
    RunHosts = choice;
}

int RunHostsInUse() {
    std::lock_guard<std::mutex> guard(ChoiceLock);
    return RunHosts ? RunHosts->HostsInUse() : 1;
}

std::string PreferredBase(const FetchRequest& request) {
    std::lock_guard<std::mutex> guard(ChoiceLock);
    if (RunHosts && request.pendingIndex >= 0) {
        int host = RunHosts->Begin(request.pendingIndex);
        if (host >= 0) {
            RunHosts->Abandoned(request.pendingIndex, host);
            HostFreed.notify_all();
            return RunHosts->Base(host);
        }
    }
    return request.base ? request.base : ListBase;
}

void UseListHost(const char* base, unsigned firstByteMs) {
    ListBase = base ? base : UpdateBaseUrl;
    ListFirstByteMs = firstByteMs;
}

const char* LastDownloadProblem() { return ListProblem; }

namespace {

// Where a file's attempts go: moved to another host between attempts of a run's file.
struct AttemptTarget {
    int host = -1;                        // the run's host, or -1 for a file fetched outside the run's choice
    std::string base;
    char url[UrlBufferSize];              // base and path: the address the lines name
    char requestUrl[UrlBufferSize + 80];  // what is asked for: the address and any query

    void Set(int chosen, const std::string& chosenBase, const FetchRequest& request) {
        host = chosen;
        base = chosenBase;
        snprintf(url, sizeof url, "%s%s", base.c_str(), request.path);
        snprintf(requestUrl, sizeof requestUrl, "%s%s%s", url, request.query ? "?" : "",
                 request.query ? request.query : "");
    }
};

// The most a file's body may be: its signed length, else its limits' bound; 0 when unbounded.
uint64_t MaxBytesOf(const FetchRequest& request) {
    return request.fingerprint ? request.fingerprint->length : request.limits.maxBytes;
}

// One attempt's transfer into the partial: a whole body from its start, or the rest after what waited there.
// Paused by the player, what arrived waits in the partial and the same attempt goes on with Range once resumed;
// closing the launcher meanwhile loses nothing, as the next start resumes it. offset: where the body went.
TransportResult TransferAttempt(const FetchRequest& request, const AttemptTarget& target, const char* partial,
                                bool resumable, StreamDigests& streamed, bool* counted, uint64_t* offset,
                                double* seconds) {
    const bool bounded = request.fingerprint || request.limits.maxBytes;
    const uint64_t maxBytes = MaxBytesOf(request);
    for (;;) {
        long long waiting = resumable ? FileSizeOf(partial) : -1;
        uint64_t from = waiting > 0 ? (uint64_t)waiting : 0;
        if (bounded && from > maxBytes) {
            DeleteFileA(partial);
            from = 0;
        }
        // The body goes straight into the partial as it arrives: a whole body from its start, the rest asked
        // for after what waited; an answer that is neither leaves the partial as it was.
        TransportRequest ask{target.requestUrl, from, 0, false, bounded, maxBytes, request.limits, partial,
                             [from](int status, const char* contentRange) {
                                 return BodyPlacement(from, status, contentRange);
                             }};
        // Without a signed length, the run's total grows by each file's length as its first answer tells it.
        if (!request.fingerprint && request.pendingIndex >= 0) ask.totalCounted = counted;
        // Where another host could take the file, a silent one is left after the list hosts' first-byte bound.
        if (target.host >= 0 && OtherHostLeft(target.host)) ask.limits.firstByteMs = FileHostFirstByteMs;
        // A body that arrives from the file's start is digested as it is written, not read back.
        streamed.whole = false;
        ask.digests = &streamed;
        TransportResult answer;
        const ULONGLONG started = GetTickCount64();
        Transport(ask, &answer);
        *seconds = (double)(GetTickCount64() - started) / 1000;
        *offset = from;
        if (!answer.paused) return answer;
        while (!TransferControl.WaitWhilePaused(1000)) {
        }
    }
}

// Tells the run's choice how an attempt on its host ended; a host that is dropped for the run gets its line.
// Whether the failure was the host's.
bool TellRunHosts(const FetchRequest& request, const AttemptTarget& target, TransferFailure failure,
                  const TransportResult& answer, double seconds, std::vector<std::string>& lines) {
    HostFailure hostFailure;
    bool hostFailed = HostFailureOf(failure, &hostFailure);
    if (target.host < 0) return hostFailed;
    std::lock_guard<std::mutex> guard(ChoiceLock);
    if (failure == TransferDone) {
        RunHosts->Succeeded(request.pendingIndex, target.host, answer.stored, seconds);
    } else if (!hostFailed) {
        RunHosts->Abandoned(request.pendingIndex, target.host);
    } else if (RunHosts->Failed(request.pendingIndex, target.host, hostFailure, answer.stored, seconds)) {
        char line[UrlBufferSize + 100];
        FormatDroppedLine(line, sizeof line, target.base.c_str());
        lines.push_back(line);
    }
    HostFreed.notify_all();
    return hostFailed;
}

enum class NextStep { OtherHostNow, Retry, Stop };

// After a failed attempt of a run's file: another host at once where one that has not failed the file is free,
// the same or another host after a retry's wait within the budget, or no attempt more. next: the host chosen.
NextStep NextStepOnRunHosts(const FetchRequest& request, int host, bool hostFailed, RetryAction action, int* next,
                            std::string* nextBase) {
    *next = hostFailed ? BeginOnHost(request) : -1;
    bool retried = false;  // the next host failed this file before: a retry there, which waits as retries wait
    if (*next >= 0) {
        std::lock_guard<std::mutex> guard(ChoiceLock);
        *nextBase = RunHosts->Base(*next);
        retried = RunHosts->FailedBefore(request.pendingIndex, *next);
    }
    if (*next >= 0 && !retried) return NextStep::OtherHostNow;
    // The same host again follows the transport's retries; a host left is tried within the budget.
    if (*next < 0 || (*next == host && action == GiveUp)) {
        if (*next >= 0) {
            std::lock_guard<std::mutex> guard(ChoiceLock);
            RunHosts->Abandoned(request.pendingIndex, *next);
            HostFreed.notify_all();
        }
        return NextStep::Stop;
    }
    return NextStep::Retry;
}

}  // namespace

bool FetchFile(const FetchRequest& request, std::vector<std::string>& lines) {
    // A run's file goes to the host its run chooses per attempt; anything else to the request's base.
    AttemptTarget target;
    {
        int host = BeginOnHost(request);
        std::string base = request.base ? request.base : ListBase;
        if (host >= 0) {
            std::lock_guard<std::mutex> guard(ChoiceLock);
            base = RunHosts->Base(host);
        }
        target.Set(host, base, request);
    }

    // A listed file's body waits under its digest's name, so that what arrived before a cut is
    // resumed, in this run or the next, from whichever host. Anything else starts afresh under its path's name.
    char partial[UrlBufferSize];
    bool resumable = MakePartialName(request.expectedDigest, request.occurrence, partial, sizeof partial);
    if (!resumable) MakeDownloadTempName(request.path, request.pendingIndex, partial, sizeof partial);
    if (!resumable) DeleteFileA(partial);

    const int attempts = 1 + request.limits.retries;
    bool refetched = false;
    uint32_t random = GetTickCount() ^ (GetCurrentThreadId() * 2654435761u);
    char arrived[DigestTextSize] = "";
    AttemptVerdict end{};
    long lastError = 0;
    int lastStatus = 0;
    bool counted = false;
    StreamDigests streamed;
    streamed.sha256Wanted = request.fingerprint != nullptr;
    for (int attempt = 1;; ++attempt) {
        uint64_t offset;
        double seconds;
        TransportResult answer =
            TransferAttempt(request, target, partial, resumable, streamed, &counted, &offset, &seconds);
        lastError = answer.lastError;
        lastStatus = answer.status;
        AttemptFacts facts{offset, answer.status, answer.contentRange.empty() ? nullptr : answer.contentRange.c_str(),
                           answer.announced, answer.stored, answer.ended, answer.timedOut, answer.tooLarge,
                           answer.writeFailed, answer.diskLow};
        end = JudgeAttempt(facts);
        if (end.failure == TransferDone) end = InstallChecked(request, partial, nullptr, arrived, &lastError, &streamed);
        bool hostFailed = TellRunHosts(request, target, end.failure, answer, seconds, lines);
        if (end.failure == TransferDone) break;
        if (end.failure == TransferDigestMismatch || end.failure == TransferTooLarge) DeleteFileA(partial);

        RetryAction action = NextAttempt(end.failure, attempt, request.limits.retries, refetched);
        if (target.host >= 0) {
            int next;
            std::string nextBase;
            NextStep step = NextStepOnRunHosts(request, target.host, hostFailed, action, &next, &nextBase);
            if (step == NextStep::Stop) break;
            if (step == NextStep::OtherHostNow) {
                // Another host: at once, resuming what arrived (a partial is named by its digest, not its host).
                if (action == RetryFromStart && end.failure != TransferDigestMismatch) DeleteFileA(partial);
                char reason[ProblemTextSize];
                FormatHostProblem(reason, sizeof reason, end.failure, answer.status, lastError);
                char line[2 * UrlBufferSize + ProblemTextSize + 100];
                FormatFailoverLine(line, sizeof line, request.path, target.base.c_str(), reason, nextBase.c_str());
                lines.push_back(line);
                target.Set(next, nextBase, request);
                continue;
            }
            if (next != target.host) target.Set(next, nextBase, request);
        } else if (action == GiveUp) {
            break;
        }
        if (action == RetryFromStart) DeleteFileA(partial);
        if (end.failure == TransferDigestMismatch) {
            // Once more from the start, with a query that names the digest, so that no cache on the
            // way can hand back the same stale copy; static servers ignore the query.
            refetched = true;
            snprintf(target.requestUrl, sizeof target.requestUrl, "%s?sha1=%s", target.url, request.expectedDigest);
        }
        char line[UrlBufferSize + 100];
        FormatRetryLine(line, sizeof line, request.path, end.failure, attempt + 1, attempts);
        lines.push_back(line);
        random = random * 1664525u + 1013904223u;
        Sleep(RetryDelayMs(attempt, random >> 8));
    }
    // What arrived of a listed file before a cut, a time-out or a server error is kept for the next
    // start, which resumes it; after any other failure nothing of it is worth keeping.
    bool keep = IsTransientFailure(end.failure) || end.failure == TransferDiskFull;
    if (end.failure != TransferDone && (!resumable || !keep)) DeleteFileA(partial);
    if (request.problem) {
        if (end.failure == TransferDone) request.problem[0] = '\0';
        else FormatHostProblem(request.problem, ProblemTextSize, end.failure, lastStatus, lastError);
    }

    char line[LogFileLineSize + UrlBufferSize];
    DownloadLineArgs args = {request.path, target.url, lastError, arrived, request.expectedDigest, MaxBytesOf(request)};
    FormatDownloadLine(line, sizeof line, end.kind, args);
    lines.push_back(line);
    return end.failure == TransferDone;
}

const char* FetchRange(const char* base, const char* path, const ByteRange& range, uint64_t fileLength,
                       const char* into) {
    char url[UrlBufferSize];
    snprintf(url, sizeof url, "%s%s", base ? base : ListBase.c_str(), path);
    uint64_t first = range.offset, last = range.offset + range.length - 1;
    // Only a 206 for exactly that range is stored; a server that ignores the range is not read on.
    TransportRequest ask{url, first, last, true, true, range.length, GameFileLimits(DownloadTimeoutSeconds), into,
                         [&](int status, const char* contentRange) -> int64_t {
                             return JudgeClosedRangeAnswer(first, last, fileLength, status, contentRange) ? -1 : 0;
                         }};
    TransportResult answer;
    Transport(ask, &answer);
    // A pause stops the range; it is asked for again, whole, once the player resumes.
    while (answer.paused) {
        while (!TransferControl.WaitWhilePaused(1000)) {
        }
        answer = TransportResult{};
        Transport(ask, &answer);
    }
    const char* problem = JudgeClosedRangeAnswer(first, last, fileLength, answer.status,
                                                 answer.contentRange.empty() ? nullptr : answer.contentRange.c_str());
    if (answer.status == 0) problem = answer.timedOut ? "a range timed out" : "a range request failed";
    if (!problem && answer.timedOut) problem = "a range timed out";
    if (!problem && answer.writeFailed) problem = "the staging folder refused the file";
    if (!problem && (!answer.ended || answer.tooLarge || answer.stored != range.length)) {
        problem = "a range arrived cut short";
    }
    return problem;
}

namespace {

// The hosts ("host:port") that answered a request for several ranges with anything but several ranges, in this run.
std::mutex OneRangeHostsLock;
std::vector<std::string> OneRangeHosts;

std::string HostOf(const char* url) {
    char host[256];
    unsigned port;
    const char* object;
    return SplitHttpUrl(url, host, sizeof host, &port, &object) ? std::string(host) + ":" + std::to_string(port) : url;
}

bool SendsOneRange(const std::string& host) {
    std::lock_guard<std::mutex> guard(OneRangeHostsLock);
    return std::find(OneRangeHosts.begin(), OneRangeHosts.end(), host) != OneRangeHosts.end();
}

void RememberOneRange(const std::string& host) {
    std::lock_guard<std::mutex> guard(OneRangeHostsLock);
    if (std::find(OneRangeHosts.begin(), OneRangeHosts.end(), host) == OneRangeHosts.end()) {
        OneRangeHosts.push_back(host);
    }
}

// The ranges of one request, numbered from 0, told to the caller's output under the caller's numbers. The run's
// meter counts their bytes, as the patch's share of the total does, not the multipart framing around them.
struct RenumberedOutput : RangeOutput {
    RangeOutput& out;
    const std::vector<size_t>& numbers;
    RenumberedOutput(RangeOutput& o, const std::vector<size_t>& n) : out(o), numbers(n) {}
    bool Start(size_t range) override { return out.Start(numbers[range]); }
    bool Write(size_t range, const char* data, size_t size) override {
        RunMeter.Add(size);
        return out.Write(numbers[range], data, size);
    }
    bool Done(size_t range) override { return out.Done(numbers[range]); }
};

// Hands the answer's head and body to the reader.
struct ReaderSink : BodySink {
    RangesAnswerReader& reader;
    RangesAnswerReader::Kind kind = RangesAnswerReader::Unusable;
    explicit ReaderSink(RangesAnswerReader& r) : reader(r) {}
    bool Begin(int status, const char* headers) override {
        std::string type, range;
        if (const char* value = HeaderValue(headers, "content-type:")) type.assign(value, strcspn(value, "\r\n"));
        if (const char* value = HeaderValue(headers, "content-range:")) range.assign(value, strcspn(value, "\r\n"));
        kind = reader.Begin(status, type.c_str(), range.empty() ? nullptr : range.c_str());
        return kind != RangesAnswerReader::Unusable;
    }
    bool Take(const char* data, size_t size) override { return reader.Feed(data, size); }
};

}  // namespace

const char* FetchRangesAtOnce(const char* base, const char* path, const ByteRange* ranges, size_t count,
                              uint64_t fileLength, RangeOutput& out, bool* oneByOne) {
    char url[UrlBufferSize];
    snprintf(url, sizeof url, "%s%s", base ? base : ListBase.c_str(), path);
    std::string host = HostOf(url);
    *oneByOne = SendsOneRange(host);
    if (*oneByOne) return nullptr;
    std::vector<size_t> pending;
    for (size_t i = 0; i < count && i < (size_t)MaxRangesPerRequest; ++i) pending.push_back(i);
    for (;;) {
        std::vector<ByteRange> asked;
        for (size_t i : pending) asked.push_back(ranges[i]);
        char value[MaxRangesPerRequest * 42 + 8];  // "A-B," with two 19-digit offsets per range, and "bytes="
        if (!FormatRangeHeader(asked.data(), asked.size(), value, sizeof value)) return "a range request failed";
        RenumberedOutput renumbered(out, pending);
        RangesAnswerReader reader(asked.data(), asked.size(), fileLength, renumbered);
        ReaderSink sink(reader);
        TransportRequest ask{url, 0, 0, false, false, 0, GameFileLimits(DownloadTimeoutSeconds), nullptr, nullptr};
        ask.rangeHeader = value;
        ask.sink = &sink;
        TransportResult answer;
        Transport(ask, &answer);
        std::vector<size_t> left;
        for (size_t k = 0; k < pending.size(); ++k) {
            if (!reader.Arrived(k)) left.push_back(pending[k]);
        }
        // A pause stops the request; the ranges that did not arrive whole are asked for again once resumed.
        if (answer.paused) {
            while (!TransferControl.WaitWhilePaused(1000)) {
            }
            pending = left;
            if (pending.empty()) return nullptr;
            continue;
        }
        if (const char* problem = reader.Problem()) return problem;
        if (answer.status == 0 || answer.timedOut) return answer.timedOut ? "a range timed out" : "a range request failed";
        if (sink.kind == RangesAnswerReader::Unusable) {
            RememberOneRange(host);
            *oneByOne = true;
            return nullptr;
        }
        if (answer.diskLow || answer.writeFailed) return "the staging folder refused the file";
        if (!answer.ended) return "a range arrived cut short";
        if (const char* problem = reader.End()) return problem;
        // One range for several: what it held whole is kept, the rest is asked for one range per request, as is
        // everything later, since a server that coalesces sends the gaps between the ranges too.
        if (sink.kind == RangesAnswerReader::OneRange) {
            RememberOneRange(host);
            *oneByOne = true;
        }
        return nullptr;
    }
}

bool DownloadFile(const char* path, uint64_t maxBytes, const char* query, std::vector<std::string>* into) {
    FetchRequest request{path, nullptr, nullptr, nullptr, ManifestLimits(maxBytes, DownloadTimeoutSeconds), 0};
    request.limits.firstByteMs = ListFirstByteMs;
    request.query = query;
    request.base = ListBase.c_str();
    request.problem = ListProblem;
    std::vector<std::string> lines;
    bool installed = FetchFile(request, into ? *into : lines);
    for (const std::string& line : lines) LogLine(line.c_str());
    return installed;
}

void EmptyStagingFolder(const std::function<bool(const char* digest)>& keepDigest) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(StagingFolder "\\*", &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        // The hosts' ranking is kept from run to run.
        if (_stricmp(found.cFileName, HostRankingName + sizeof StagingFolder) == 0) continue;
        char digest[DigestTextSize];
        if (keepDigest && PartialNameDigest(found.cFileName, digest) && keepDigest(digest)) continue;
        char name[MAX_PATH + sizeof StagingFolder + 1];
        snprintf(name, sizeof name, "%s\\%s", StagingFolder, found.cFileName);
        SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void RemoveStagingFolder(const std::function<bool(const char* digest)>& keepDigest) {
    EmptyStagingFolder(keepDigest);
    RemoveDirectoryA(StagingFolder);  // fails, as it should, while partials wait in it
}

namespace {

// Replaces the entry buffer by one of the size the last call asked for.
INTERNET_CACHE_ENTRY_INFOA* GrowEntryBuffer(INTERNET_CACHE_ENTRY_INFOA* entry, DWORD size) {
    free(entry);
    entry = (INTERNET_CACHE_ENTRY_INFOA*)malloc(size);
    if (entry) entry->dwStructSize = size;
    return entry;
}

}  // namespace

void PurgeUrlCache() {
    // The size variable is reset to the buffer's capacity before every call, since a call may
    // leave a smaller value there.
    DWORD capacity = 4096;
    DWORD size = capacity;
    INTERNET_CACHE_ENTRY_INFOA* entry = (INTERNET_CACHE_ENTRY_INFOA*)malloc(capacity);
    if (!entry) return;
    entry->dwStructSize = capacity;

    HANDLE enumeration = FindFirstUrlCacheEntryA(nullptr, entry, &size);
    if (!enumeration) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            FindCloseUrlCache(nullptr);
            free(entry);
            return;
        }
        capacity = size;
        entry = GrowEntryBuffer(entry, capacity);
        enumeration = entry ? FindFirstUrlCacheEntryA(nullptr, entry, &size) : nullptr;
        if (!enumeration) {
            free(entry);
            return;
        }
    }
    for (;;) {
        if (!(entry->CacheEntryType & COOKIE_CACHE_ENTRY)) DeleteUrlCacheEntryA(entry->lpszSourceUrlName);
        size = capacity;
        if (FindNextUrlCacheEntryA(enumeration, entry, &size)) continue;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
        capacity = size;
        entry = GrowEntryBuffer(entry, capacity);
        if (!entry || !FindNextUrlCacheEntryA(enumeration, entry, &size)) break;
    }
    FindCloseUrlCache(enumeration);
    free(entry);
}
