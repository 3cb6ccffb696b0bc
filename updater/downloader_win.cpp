// urlmon implementation of the downloader and the WinINet cache purge; runs on the main thread for the manifest, the worker for game files.
#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

#include <stdio.h>
#include <string.h>

#include "launcher/log.h"
#include "updater/digest.h"
#include "updater/downloader.h"

const char UpdateBaseUrl[] = "http://" LAUNCHER_UPDATE_HOST "/Quorvane/";

namespace {

// Status object of one download; lives on DownloadFile's stack and is never reference-counted.
// Besides the status callback it answers IHttpNegotiate, the one way to see the response's status
// and headers: the download service stores HTTP error pages and cut-off bodies as if they were the
// file (Wine reports success for them), so DownloadFile judges the transfer from what it sees here.
class MyCallback : public IBindStatusCallback, public IHttpNegotiate {
public:
    int httpStatus = 0;             // 0 until a response was seen
    long long expectedLength = -1;  // the response's announced body length, -1 when unknown

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (object && IsEqualIID(riid, IID_IHttpNegotiate)) {
            *object = static_cast<IHttpNegotiate*>(this);
            return S_OK;
        }
        return E_NOTIMPL;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 0; }
    STDMETHODIMP_(ULONG) Release() override { return 0; }

    STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP OnLowResource(DWORD) override { return E_NOTIMPL; }
    // Progress within one file is not shown: the bar advances by whole files.
    STDMETHODIMP OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override {
        // Keep every download out of the local cache and ask intermediate caches for a fresh copy.
        *flags = BINDF_NOWRITECACHE | BINDF_PRAGMA_NO_CACHE;
        info->cbSize = sizeof(BINDINFO);  // 84 in a 32-bit process
        return S_OK;
    }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

    STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders) override {
        if (additionalHeaders) *additionalHeaders = nullptr;
        return S_OK;
    }
    STDMETHODIMP OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR, LPWSTR* additionalHeaders) override {
        httpStatus = (int)status;
        if (responseHeaders) {
            // Header names and numbers are ASCII; a narrow copy is enough to read them.
            char headers[4096];
            size_t i = 0;
            for (; i < sizeof headers - 1 && responseHeaders[i]; ++i) {
                headers[i] = responseHeaders[i] < 0x80 ? (char)responseHeaders[i] : '?';
            }
            headers[i] = '\0';
            expectedLength = ExpectedBodyLength(headers);
        }
        if (additionalHeaders) *additionalHeaders = nullptr;
        return S_OK;
    }
};

long long FileSizeOf(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    return (long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

}  // namespace

bool DownloadFile(const char* path, const char* expectedDigest) {
    MyCallback callback;
    char url[UrlBufferSize];
    memset(url, 0, sizeof url);
    snprintf(url, sizeof url, "%s%s", UpdateBaseUrl, path);

    // The body goes to a file beside the target and replaces it only once it has been judged good.
    char tempName[UrlBufferSize];
    MakeDownloadTempName(path, tempName, sizeof tempName);
    DeleteFileA(tempName);
    HRESULT result = URLDownloadToFileA(nullptr, url, tempName, 0, &callback);
    long lastError = (long)GetLastError();

    bool cutShort = false;
    if (result == S_OK && callback.expectedLength >= 0) cutShort = FileSizeOf(tempName) != callback.expectedLength;
    DownloadLineKind kind = JudgeTransfer((uint32_t)result, callback.httpStatus, cutShort);

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
