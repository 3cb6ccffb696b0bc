// urlmon implementation of the downloader and the WinINet cache purge: one transfer per calling thread, on the main
// thread for the manifest and on the update run's transfer threads for game files.
#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/log.h"
#include "common/text.h"
#include "updater/delta/block_index.h"
#include "updater/sha1.h"
#include "updater/net/downloader.h"
#include "updater/trust/sha256.h"
#include "updater/trust/signature.h"

const char UpdateBaseUrl[] = "http://" LAUNCHER_UPDATE_HOST "/Quorvane/";

namespace {

// Status object of one transfer attempt; lives on its thread's stack and is never reference-counted.
// Besides the status callback it answers IHttpNegotiate, the one way to add the Range header and to
// see the response's status and headers: the download service stores HTTP error pages and cut-off
// bodies as if they were the file (Wine reports success for them), so each attempt is judged from
// what is seen here. It also keeps the binding, so that the watchdog thread can abort the transfer.
class MyCallback : public IBindStatusCallback, public IHttpNegotiate {
public:
    uint64_t rangeFrom = 0;          // "Range: bytes=N-" when not 0
    uint64_t rangeLast = 0;          // with closedRange: "Range: bytes=rangeFrom-rangeLast"
    bool closedRange = false;
    bool bounded = false;            // whether the file may be at most maxBytes long
    uint64_t maxBytes = 0;
    int httpStatus = 0;              // 0 until a response was seen
    long long expectedLength = -1;   // the response's announced body length, -1 when unknown
    std::string contentRange;        // the response's Content-Range value
    volatile LONG lastActivity;      // GetTickCount of the last sign of life; written by the transfer's thread
    volatile LONG received = 0;      // body bytes so far
    volatile LONG timedOut = 0;      // set once by the watchdog
    volatile LONG tooLarge = 0;      // set once the body outgrew its bound

    MyCallback() : lastActivity((LONG)GetTickCount()) { InitializeCriticalSection(&bindingLock_); }
    ~MyCallback() {
        if (binding_) binding_->Release();
        DeleteCriticalSection(&bindingLock_);
    }

    // Called by the watchdog: marks the transfer as timed out and aborts its binding, once there is one.
    void TimeOut() {
        InterlockedExchange(&timedOut, 1);
        Abort();
    }

    void Abort() {
        EnterCriticalSection(&bindingLock_);
        IBinding* binding = aborted_ ? nullptr : binding_;
        if (binding) {
            binding->AddRef();
            aborted_ = true;
        }
        LeaveCriticalSection(&bindingLock_);
        if (binding) {
            binding->Abort();
            binding->Release();
        }
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (object && IsEqualIID(riid, IID_IHttpNegotiate)) {
            *object = static_cast<IHttpNegotiate*>(this);
            return S_OK;
        }
        return E_NOTIMPL;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 0; }
    STDMETHODIMP_(ULONG) Release() override { return 0; }

    STDMETHODIMP OnStartBinding(DWORD, IBinding* binding) override {
        Touch();
        EnterCriticalSection(&bindingLock_);
        if (binding && !binding_) {
            binding->AddRef();
            binding_ = binding;
        }
        LeaveCriticalSection(&bindingLock_);
        return Stopped() ? E_ABORT : S_OK;
    }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP OnLowResource(DWORD) override { return E_NOTIMPL; }
    // Progress within one file is not shown (the bar counts whole files); each call is a sign of life
    // and tells how much of the body arrived.
    STDMETHODIMP OnProgress(ULONG progress, ULONG, ULONG status, LPCWSTR) override {
        Touch();
        if (status == BINDSTATUS_DOWNLOADINGDATA || status == BINDSTATUS_ENDDOWNLOADDATA) {
            InterlockedExchange(&received, (LONG)progress);
            if (bodyLimitKnown_ && progress > bodyLimit_) InterlockedExchange(&tooLarge, 1);
        }
        return Stopped() ? E_ABORT : S_OK;
    }
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override {
        EnterCriticalSection(&bindingLock_);
        aborted_ = true;  // nothing left to abort
        LeaveCriticalSection(&bindingLock_);
        return S_OK;
    }
    STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override {
        // Keep every download out of the local cache and ask intermediate caches for a fresh copy.
        *flags = BINDF_NOWRITECACHE | BINDF_PRAGMA_NO_CACHE;
        info->cbSize = sizeof(BINDINFO);  // 84 in a 32-bit process
        return S_OK;
    }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
        Touch();
        return Stopped() ? E_ABORT : S_OK;
    }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

    STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders) override {
        if (!additionalHeaders) return S_OK;
        *additionalHeaders = nullptr;
        if (rangeFrom == 0 && !closedRange) return S_OK;
        // The service frees the text with CoTaskMemFree.
        wchar_t header[80];
        int length = closedRange ? swprintf(header, 80, L"Range: bytes=%llu-%llu\r\n", (unsigned long long)rangeFrom,
                                            (unsigned long long)rangeLast)
                                 : swprintf(header, 80, L"Range: bytes=%llu-\r\n", (unsigned long long)rangeFrom);
        LPWSTR text = (LPWSTR)CoTaskMemAlloc((length + 1) * sizeof(wchar_t));
        if (text) {
            memcpy(text, header, (length + 1) * sizeof(wchar_t));
            *additionalHeaders = text;
        }
        return S_OK;
    }
    STDMETHODIMP OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR, LPWSTR* additionalHeaders) override {
        Touch();
        httpStatus = (int)status;
        if (responseHeaders) {
            // Header names and numbers are ASCII; a narrow copy of the whole block is enough to read
            // them, however long the headers before them are.
            std::string headers;
            for (const wchar_t* p = responseHeaders; *p; ++p) headers += *p < 0x80 ? (char)*p : '?';
            expectedLength = ExpectedBodyLength(headers.c_str());
            const char* range = HeaderValue(headers.c_str(), "content-range:");
            if (range) contentRange.assign(range, strcspn(range, "\r\n"));
        }
        // The body may be at most what the file's bound leaves: all of it for a whole file, the rest
        // beyond the offset for a resumed one; a closed range's bound is its own length.
        if (bounded) {
            bodyLimit_ = status == 206 && !closedRange && rangeFrom <= maxBytes ? maxBytes - rangeFrom : maxBytes;
            bodyLimitKnown_ = true;
            if (expectedLength >= 0 && (uint64_t)expectedLength > bodyLimit_) InterlockedExchange(&tooLarge, 1);
        }
        if (additionalHeaders) *additionalHeaders = nullptr;
        return Stopped() ? E_ABORT : S_OK;
    }

private:
    void Touch() { InterlockedExchange(&lastActivity, (LONG)GetTickCount()); }
    bool Stopped() const { return timedOut || tooLarge; }

    CRITICAL_SECTION bindingLock_;
    IBinding* binding_ = nullptr;  // AddRef'd; guarded by bindingLock_
    bool aborted_ = false;         // guarded by bindingLock_
    bool bodyLimitKnown_ = false;
    uint64_t bodyLimit_ = 0;
};

// What the watchdog keeps of one transfer in flight.
struct Watch {
    MyCallback* callback;     // null when the slot is free
    DWORD silence;            // milliseconds without a sign of life
    DWORD whole;              // milliseconds for the whole body from the request; 0: no bound
    DWORD window;             // milliseconds of the minimum-rate window; 0: no bound
    DWORD minWindowBytes;
    DWORD started, windowStart, windowBytes;
    bool aborting;            // the watchdog is aborting it outside the lock; the slot stays until it is done
};

// One watchdog thread for every transfer of the process: a stalled connection gives a transfer's
// thread no callback at all, so the time is kept here and the binding aborted from here: after a
// silence, once the whole time is over, or when a window passed with less than its minimum of bytes.
// A thread per transfer would cost each transfer a thread start and, under Wine, about 1 MiB.
struct Watchdog {
    CRITICAL_SECTION lock;
    HANDLE wake = nullptr;    // set when a transfer is added
    Watch watches[2 * MaxTransferSlots + 2] = {};  // the update run's transfers and the start-up's
    bool started = false;

    Watchdog() { InitializeCriticalSection(&lock); }
} Watchdogs;

DWORD WINAPI WatchTransfers(void*) {
    for (;;) {
        bool any = false;
        for (Watch& watch : Watchdogs.watches) {
            EnterCriticalSection(&Watchdogs.lock);
            MyCallback* callback = watch.aborting ? nullptr : watch.callback;
            bool late = false;
            if (callback) {
                any = true;
                DWORD now = GetTickCount();
                late = now - (DWORD)callback->lastActivity >= watch.silence ||
                       (watch.whole && now - watch.started >= watch.whole) || callback->timedOut;
                if (watch.window && now - watch.windowStart >= watch.window) {
                    DWORD bytes = (DWORD)callback->received;
                    if (bytes - watch.windowBytes < watch.minWindowBytes) late = true;
                    watch.windowStart = now;
                    watch.windowBytes = bytes;
                }
                watch.aborting = late || callback->tooLarge;
            }
            LeaveCriticalSection(&Watchdogs.lock);
            if (!callback || !watch.aborting) continue;
            if (late) callback->TimeOut();
            else callback->Abort();
            EnterCriticalSection(&Watchdogs.lock);
            watch.aborting = false;
            LeaveCriticalSection(&Watchdogs.lock);
        }
        WaitForSingleObject(Watchdogs.wake, any ? 200 : INFINITE);
    }
}

// Adds a transfer to the watchdog; false when no slot is free (then it runs unwatched but for the
// network layer's own time-outs).
Watch* StartWatching(MyCallback& callback, const TransferLimits& limits) {
    EnterCriticalSection(&Watchdogs.lock);
    if (!Watchdogs.started) {
        Watchdogs.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        HANDLE thread = Watchdogs.wake ? CreateThread(nullptr, 64 * 1024, WatchTransfers, nullptr,
                                                      STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)
                                       : nullptr;
        if (thread) CloseHandle(thread);
        Watchdogs.started = thread != nullptr;
    }
    Watch* found = nullptr;
    for (Watch& watch : Watchdogs.watches) {
        if (Watchdogs.started && !watch.callback && !watch.aborting) {
            DWORD now = GetTickCount();
            watch = Watch{&callback, DownloadTimeoutSeconds * 1000u, limits.wholeSeconds * 1000u,
                          limits.rateWindowSeconds * 1000u, (DWORD)limits.minWindowBytes, now, now, 0, false};
            found = &watch;
            break;
        }
    }
    LeaveCriticalSection(&Watchdogs.lock);
    if (found) SetEvent(Watchdogs.wake);
    return found;
}

// Removes a transfer from the watchdog, once an abort under way has returned.
void StopWatching(Watch* watch) {
    if (!watch) return;
    for (;;) {
        EnterCriticalSection(&Watchdogs.lock);
        bool aborting = watch->aborting;
        if (!aborting) watch->callback = nullptr;
        LeaveCriticalSection(&Watchdogs.lock);
        if (!aborting) return;
        Sleep(1);
    }
}

// Sets the network layer's options once per process, on the main thread before the first transfer.
void SetNetworkOptions() {
    static bool set;
    if (set) return;
    set = true;
    // The network layer's own time-outs, a little longer than the watchdog's, in case an abort is
    // not heard: its time-out result is reported as a time-out too.
    DWORD fallback = DownloadTimeoutSeconds * 1000u + 5000;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        InternetSetOptionA(nullptr, option, &fallback, sizeof fallback);
    }
    // Windows allows few connections per server by default; the update run keeps more transfers in flight.
    DWORD connections = MaxTransferSlots;
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof connections);
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections, sizeof connections);
}

long long FileSizeOf(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    return (long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

// Runs one attempt watched by the watchdog; returns the download service's result.
HRESULT TransferWithWatchdog(const char* url, const char* tempName, MyCallback& callback, const TransferLimits& limits) {
    Watch* watch = StartWatching(callback, limits);
    HRESULT result = URLDownloadToFileA(nullptr, url, tempName, 0, &callback);
    DWORD lastError = GetLastError();
    StopWatching(watch);
    SetLastError(lastError);
    return result;
}

// Appends the file from to the file to, in pieces, and deletes from; false when a step failed.
bool AppendFile(const char* from, const char* to, unsigned char* buffer) {
    FILE* in = fopen(from, "rb");
    if (!in) return false;
    FILE* out = fopen(to, "ab");
    bool ok = out != nullptr;
    size_t count;
    while (ok && (count = fread(buffer, 1, DigestReadSize, in)) > 0) ok = fwrite(buffer, 1, count, out) == count;
    ok = !ferror(in) && ok;
    fclose(in);
    if (out) ok = fclose(out) == 0 && ok;
    DeleteFileA(from);
    return ok;
}

// Whether a whole file matches the signed listing's length and SHA-256.
bool MatchesFingerprint(const char* path, const FileFingerprint& fingerprint, unsigned char* buffer) {
    if (FileSizeOf(path) != (long long)fingerprint.length) return false;
    uint8_t sha256[Sha256Size];
    return Sha256File(path, sha256, buffer) == 0 && memcmp(sha256, fingerprint.sha256, Sha256Size) == 0;
}

// How one attempt ended, and what its outcome line would be.
struct AttemptEnd {
    TransferFailure failure;
    DownloadLineKind kind;
    long lastError;
};

// Judges an attempt from what the service reported and what the callback saw, and moves what
// arrived into the partial body: a whole body replaces it, the rest from the offset is appended to
// it, anything else is dropped. An attempt from the start wrote into the partial itself (tail is
// partial), where a usable body already is.
AttemptEnd EndAttempt(HRESULT result, long lastError, MyCallback& callback, uint64_t offset, const char* tail,
                      const char* partial, unsigned char* buffer) {
    const bool inPlace = tail == partial;
    int status = callback.httpStatus;
    long long tailSize = FileSizeOf(tail);
    RangeVerdict verdict = JudgeRangeAnswer(offset, status, callback.contentRange.c_str());
    bool usable = status == 200 || (status == 206 && verdict == RangeAppend);
    // A partial that is already whole is answered with 416 and the file's length.
    int64_t total;
    bool alreadyWhole = status == 416 && offset > 0 && UnsatisfiedRangeLength(callback.contentRange.c_str(), &total) &&
                        total == (int64_t)offset;
    if (inPlace) {
        if (!usable && tailSize >= 0) DeleteFileA(partial);
    } else if (status == 200 && tailSize >= 0) {
        if (!MoveFileExA(tail, partial, MOVEFILE_REPLACE_EXISTING)) usable = false;
    } else if (usable && tailSize >= 0) {
        if (!AppendFile(tail, partial, buffer)) usable = false;
    } else {
        if ((status == 206 || status == 416) && !alreadyWhole) DeleteFileA(partial);
    }
    // Whatever is left of the tail (a refused body, a failed move) goes; each check costs less than a
    // delete of a file that is not there.
    if (!inPlace && FileSizeOf(tail) >= 0) DeleteFileA(tail);

    bool cutShort = usable && callback.expectedLength >= 0 && tailSize != callback.expectedLength;
    bool timedOut = callback.timedOut != 0;
    AttemptEnd end{TransferDone, JudgeTransfer((uint32_t)result, status, cutShort, timedOut), lastError};
    if (alreadyWhole) {
        end.kind = LineComplete;
    } else if (callback.tooLarge) {
        end = {TransferTooLarge, LineTooLarge, lastError};
    } else if (timedOut || (uint32_t)result == ConnectionTimeoutResult) {
        end.failure = TransferTimedOut;
    } else if (status >= 500) {
        end.failure = TransferServerError;
    } else if (status == 416 || (status == 206 && verdict != RangeAppend)) {
        end = {TransferRangeRefused, LineUrlInvalid, lastError};
    } else if (status >= 400) {
        end.failure = TransferClientError;
    } else if (result != S_OK || cutShort || !usable) {
        end.failure = TransferCut;
        if (end.kind == LineComplete) end.kind = LineUrlInvalid;
    }
    return end;
}

// Checks a whole partial body against the list and the signed listing, then moves it into place.
AttemptEnd InstallPartial(const FetchRequest& request, const char* partial, const char* target, char* arrived,
                          unsigned char* buffer) {
    if (IsHexDigest40(request.expectedDigest)) {
        if (DigestFile(partial, arrived, buffer) != 0) arrived[0] = '\0';
        if (!DigestAccepted(request.expectedDigest, arrived)) return {TransferDigestMismatch, LineDigestMismatch, 0};
    }
    if (request.fingerprint && !MatchesFingerprint(partial, *request.fingerprint, buffer)) {
        return {TransferDigestMismatch, LineSignedMismatch, 0};
    }
    if (!MoveFileExA(partial, target, MOVEFILE_REPLACE_EXISTING)) return {TransferLocalError, LineError, (long)GetLastError()};
    return {TransferDone, LineComplete, 0};
}

}  // namespace

bool FetchFile(const FetchRequest& request, std::vector<std::string>& lines) {
    SetNetworkOptions();
    const char* target = request.installAs ? request.installAs : request.path;
    char url[UrlBufferSize];
    snprintf(url, sizeof url, "%s%s", UpdateBaseUrl, request.path);

    // A listed file's body waits under its digest's name, so that what arrived before a cut is
    // resumed, in this run or the next. Anything else starts afresh under its path's name.
    char partial[UrlBufferSize], tail[UrlBufferSize + 2];
    bool resumable = MakePartialName(request.expectedDigest, request.occurrence, partial, sizeof partial);
    if (!resumable) MakeDownloadTempName(request.path, request.pendingIndex, partial, sizeof partial);
    snprintf(tail, sizeof tail, "%s~", partial);
    if (GetFileAttributesA(StagingFolder) == INVALID_FILE_ATTRIBUTES) CreateDirectoryA(StagingFolder, nullptr);
    if (!resumable) DeleteFileA(partial);

    std::vector<unsigned char> buffer(DigestReadSize);
    bool bounded = request.fingerprint || request.limits.maxBytes;
    uint64_t maxBytes = request.fingerprint ? request.fingerprint->length : request.limits.maxBytes;
    const int attempts = 1 + request.limits.retries;
    bool refetched = false;
    uint32_t random = GetTickCount() ^ (GetCurrentThreadId() * 2654435761u);
    char arrived[DigestTextSize] = "";
    char requestUrl[UrlBufferSize + 80];
    snprintf(requestUrl, sizeof requestUrl, "%s%s%s", url, request.query ? "?" : "",
             request.query ? request.query : "");
    AttemptEnd end{};
    for (int attempt = 1;; ++attempt) {
        long long waiting = resumable ? FileSizeOf(partial) : -1;
        uint64_t offset = waiting > 0 ? (uint64_t)waiting : 0;
        if (bounded && offset > maxBytes) {
            DeleteFileA(partial);
            offset = 0;
        }
        MyCallback callback;
        callback.rangeFrom = offset;
        callback.bounded = bounded;
        callback.maxBytes = maxBytes;
        // From the start the body goes straight into the partial; the rest of one goes beside it first,
        // since the answer may turn out to be the whole file or no usable body at all. A stale file
        // there would pass for what arrived.
        const char* into = offset == 0 ? partial : tail;
        if (FileSizeOf(into) >= 0) DeleteFileA(into);
        HRESULT result = TransferWithWatchdog(requestUrl, into, callback, request.limits);
        long lastError = (long)GetLastError();
        // The download service may keep its own copy of the body in the URL cache whatever the bind
        // flags say (Wine does); dropped at once, it neither fills the player's disk nor slows the
        // next start's cache purge.
        DeleteUrlCacheEntryA(requestUrl);

        end = EndAttempt(result, lastError, callback, offset, into, partial, buffer.data());
        if (end.failure == TransferDone) end = InstallPartial(request, partial, target, arrived, buffer.data());
        if (end.failure == TransferDone) break;
        if (end.failure == TransferDigestMismatch || end.failure == TransferTooLarge) DeleteFileA(partial);

        RetryAction action = NextAttempt(end.failure, attempt, request.limits.retries, refetched);
        if (action == GiveUp) break;
        if (action == RetryFromStart) DeleteFileA(partial);
        if (end.failure == TransferDigestMismatch) {
            // Once more from the start, with a query that names the digest, so that no cache on the
            // way can hand back the same stale copy; static servers ignore the query.
            refetched = true;
            snprintf(requestUrl, sizeof requestUrl, "%s?sha1=%s", url, request.expectedDigest);
        }
        char line[UrlBufferSize + 100];
        FormatRetryLine(line, sizeof line, request.path, end.failure, attempt + 1, attempts);
        lines.push_back(line);
        random = random * 1664525u + 1013904223u;
        Sleep(RetryDelayMs(attempt, random >> 8));
    }
    // What arrived of a listed file before a cut, a time-out or a server error is kept for the next
    // start, which resumes it; after any other failure nothing of it is worth keeping.
    if (end.failure != TransferDone && (!resumable || !IsTransientFailure(end.failure))) DeleteFileA(partial);

    char line[LogFileLineSize + UrlBufferSize];
    DownloadLineArgs args = {request.path, url, end.lastError, arrived, request.expectedDigest, maxBytes};
    FormatDownloadLine(line, sizeof line, end.kind, args);
    lines.push_back(line);
    return end.failure == TransferDone;
}

const char* FetchRange(const char* path, const ByteRange& range, uint64_t fileLength, const char* into) {
    SetNetworkOptions();
    char url[UrlBufferSize], tail[UrlBufferSize + 2];
    snprintf(url, sizeof url, "%s%s", UpdateBaseUrl, path);
    snprintf(tail, sizeof tail, "%s~", into);
    MyCallback callback;
    callback.closedRange = true;
    callback.rangeFrom = range.offset;
    callback.rangeLast = range.offset + range.length - 1;
    // A server that ignores the range is stopped as soon as it announces a longer body.
    callback.bounded = true;
    callback.maxBytes = range.length;
    DeleteFileA(tail);
    HRESULT result = TransferWithWatchdog(url, tail, callback, GameFileLimits(DownloadTimeoutSeconds));
    DeleteUrlCacheEntryA(url);
    const char* problem = JudgeClosedRangeAnswer(callback.rangeFrom, callback.rangeLast, fileLength,
                                                 callback.httpStatus, callback.contentRange.c_str());
    if (!problem && (callback.timedOut || (uint32_t)result == ConnectionTimeoutResult)) problem = "a range timed out";
    if (!problem && (result != S_OK || callback.tooLarge || FileSizeOf(tail) != (long long)range.length)) {
        problem = "a range arrived cut short";
    }
    std::vector<unsigned char> buffer(DigestReadSize);
    if (!problem && !AppendFile(tail, into, buffer.data())) problem = "the staging folder refused the file";
    DeleteFileA(tail);
    return problem;
}

const char* InstallStagedFile(const FetchRequest& request, const char* staged) {
    const char* target = request.installAs ? request.installAs : request.path;
    std::vector<unsigned char> buffer(DigestReadSize);
    if (request.fingerprint && !MatchesFingerprint(staged, *request.fingerprint, buffer.data())) {
        return "the rebuilt file does not match its signed length and SHA-256";
    }
    if (!MoveFileExA(staged, target, MOVEFILE_REPLACE_EXISTING)) return "the rebuilt file cannot replace the old one";
    return nullptr;
}

bool DownloadFile(const char* path, uint64_t maxBytes, const char* query) {
    FetchRequest request{path, nullptr, nullptr, nullptr, ManifestLimits(maxBytes, DownloadTimeoutSeconds), 0};
    request.query = query;
    std::vector<std::string> lines;
    bool installed = FetchFile(request, lines);
    for (const std::string& line : lines) LogLine(line.c_str());
    return installed;
}

void EmptyStagingFolder(const std::function<bool(const char* digest)>& keepDigest) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(StagingFolder "\\*", &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
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
