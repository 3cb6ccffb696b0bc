// urlmon implementation of the downloader and the WinINet cache purge; runs on the main thread for the manifest, the worker for game files.
#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "common/log.h"
#include "updater/digest.h"
#include "updater/downloader.h"

const char UpdateBaseUrl[] = "http://" LAUNCHER_UPDATE_HOST "/Quorvane/";

namespace {

// Status object of one download; lives on DownloadFile's stack and is never reference-counted.
// Besides the status callback it answers IHttpNegotiate, the one way to see the response's status
// and headers: the download service stores HTTP error pages and cut-off bodies as if they were the
// file (Wine reports success for them), so DownloadFile judges the transfer from what it sees here.
// It also keeps the binding, so that the watchdog thread can abort a transfer that has stalled.
class MyCallback : public IBindStatusCallback, public IHttpNegotiate {
public:
    int httpStatus = 0;             // 0 until a response was seen
    long long expectedLength = -1;  // the response's announced body length, -1 when unknown
    volatile LONG lastActivity;     // GetTickCount of the last sign of life; written by the transfer's thread
    volatile LONG timedOut = 0;     // set once by the watchdog

    MyCallback() : lastActivity((LONG)GetTickCount()) { InitializeCriticalSection(&bindingLock_); }
    ~MyCallback() {
        if (binding_) binding_->Release();
        DeleteCriticalSection(&bindingLock_);
    }

    // Called by the watchdog: marks the transfer as timed out and aborts its binding, once there is one.
    void TimeOut() {
        InterlockedExchange(&timedOut, 1);
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
        return timedOut ? E_ABORT : S_OK;
    }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP OnLowResource(DWORD) override { return E_NOTIMPL; }
    // Progress within one file is not shown (the bar advances by whole files); each call is a sign of life.
    STDMETHODIMP OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override {
        Touch();
        return timedOut ? E_ABORT : S_OK;
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
        return S_OK;
    }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

    STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders) override {
        if (additionalHeaders) *additionalHeaders = nullptr;
        return S_OK;
    }
    STDMETHODIMP OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR, LPWSTR* additionalHeaders) override {
        Touch();
        httpStatus = (int)status;
        if (responseHeaders) {
            // Header names and numbers are ASCII; a narrow copy of the whole block is enough to read
            // them, however long the headers before Content-Length are.
            std::string headers;
            for (const wchar_t* p = responseHeaders; *p; ++p) headers += *p < 0x80 ? (char)*p : '?';
            expectedLength = ExpectedBodyLength(headers.c_str());
        }
        if (additionalHeaders) *additionalHeaders = nullptr;
        return S_OK;
    }

private:
    void Touch() { InterlockedExchange(&lastActivity, (LONG)GetTickCount()); }

    CRITICAL_SECTION bindingLock_;
    IBinding* binding_ = nullptr;  // AddRef'd; guarded by bindingLock_
    bool aborted_ = false;         // guarded by bindingLock_
};

struct Watchdog {
    MyCallback* callback;
    HANDLE finished;  // set when the transfer has returned
    DWORD timeout;    // milliseconds without a sign of life
};

// Watchdog thread of one transfer. A stalled connection gives the transfer's thread no callback at
// all, so the time is kept here and the binding aborted from here.
DWORD WINAPI WatchTransfer(void* argument) {
    Watchdog* watch = (Watchdog*)argument;
    while (WaitForSingleObject(watch->finished, 200) == WAIT_TIMEOUT) {
        DWORD quiet = GetTickCount() - (DWORD)watch->callback->lastActivity;
        if (quiet >= watch->timeout || watch->callback->timedOut) watch->callback->TimeOut();
    }
    return 0;
}

DWORD TransferTimeout() {
    const DWORD timeout = DownloadTimeoutSeconds * 1000u;
    static bool optionsSet;  // main thread first, before any worker transfers
    if (!optionsSet) {
        optionsSet = true;
        // The network layer's own time-outs, a little longer, in case an abort is not heard: its
        // time-out result is reported as a time-out too.
        DWORD fallback = timeout + 5000;
        for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT}) {
            InternetSetOptionA(nullptr, option, &fallback, sizeof fallback);
        }
    }
    return timeout;
}

long long FileSizeOf(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    return (long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

// Runs the transfer with a watchdog beside it; returns the download service's result.
HRESULT TransferWithTimeout(const char* url, const char* tempName, MyCallback& callback) {
    Watchdog watch = {&callback, CreateEventA(nullptr, TRUE, FALSE, nullptr), TransferTimeout()};
    HANDLE watcher = watch.finished ? CreateThread(nullptr, 0, WatchTransfer, &watch, 0, nullptr) : nullptr;
    HRESULT result = URLDownloadToFileA(nullptr, url, tempName, 0, &callback);
    DWORD lastError = GetLastError();
    if (watcher) {
        SetEvent(watch.finished);
        WaitForSingleObject(watcher, INFINITE);
        CloseHandle(watcher);
    }
    if (watch.finished) CloseHandle(watch.finished);
    SetLastError(lastError);
    return result;
}

}  // namespace

bool DownloadFile(const char* path, const char* expectedDigest) {
    MyCallback callback;
    char url[UrlBufferSize];
    memset(url, 0, sizeof url);
    snprintf(url, sizeof url, "%s%s", UpdateBaseUrl, path);

    // The body goes to the staging folder and replaces the target only once it has been judged good.
    char tempName[UrlBufferSize];
    MakeDownloadTempName(path, tempName, sizeof tempName);
    CreateDirectoryA(StagingFolder, nullptr);
    DeleteFileA(tempName);
    HRESULT result = TransferWithTimeout(url, tempName, callback);
    long lastError = (long)GetLastError();
    // The download service may keep its own copy of the body in the URL cache whatever the bind
    // flags say (Wine does); dropped at once, it neither fills the player's disk nor slows the next
    // start's cache purge.
    DeleteUrlCacheEntryA(url);

    bool cutShort = false;
    if (result == S_OK && callback.expectedLength >= 0) cutShort = FileSizeOf(tempName) != callback.expectedLength;
    DownloadLineKind kind = JudgeTransfer((uint32_t)result, callback.httpStatus, cutShort, callback.timedOut != 0);

    char arrived[DigestTextSize] = "";
    if (kind == LineComplete && IsHexDigest40(expectedDigest)) {
        ComputeFileDigest(tempName);
        snprintf(arrived, sizeof arrived, "%s", DigestText);
        if (!DigestAccepted(expectedDigest, arrived)) kind = LineDigestMismatch;
    }
    if (kind == LineComplete && !MoveFileExA(tempName, path, MOVEFILE_REPLACE_EXISTING)) {
        kind = LineError;
        lastError = (long)GetLastError();
    }
    if (kind != LineComplete) DeleteFileA(tempName);

    memset(LogMessageBuffer, 0, LogMessageBufferSize);
    DownloadLineArgs args = {path, url, lastError, arrived, expectedDigest};
    FormatDownloadLine(LogMessageBuffer, LogMessageBufferSize, kind, args);
    LogLine(LogMessageBuffer);
    return kind == LineComplete;
}

void EmptyStagingFolder() {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(StagingFolder "\\*", &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        char name[MAX_PATH + sizeof StagingFolder + 1];
        snprintf(name, sizeof name, "%s\\%s", StagingFolder, found.cFileName);
        SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void RemoveStagingFolder() {
    EmptyStagingFolder();
    RemoveDirectoryA(StagingFolder);
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
