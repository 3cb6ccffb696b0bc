// WinINet transport: one session, kept-alive slots, one watchdog thread; runs on the transfer threads and, for the
// list, on the main thread, never on the window's.
#include <windows.h>
#include <wininet.h>

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "common/file.h"
#include "updater/net/downloader.h"
#include "updater/net/progress.h"
#include "updater/net/transport.h"

namespace {

// The free space of the game folder's volume is asked again after this much was written by all transfers together,
// and at a transfer's first write while the volume was last found short: under Wine each question costs requests to
// its server, which every transfer waits on, so asking once per file would cost a first install of many small
// files dearly.
const uint64_t SpaceCheckBytes = 4u << 20;
std::atomic<uint64_t> WrittenSinceSpaceCheck{SpaceCheckBytes};  // the process's first write asks
std::atomic<bool> SpaceShort{false};

// Whether the volume is below its reserve, after got more bytes were written.
bool VolumeShort(uint64_t got, bool firstWrite) {
    if (WrittenSinceSpaceCheck.fetch_add(got) + got >= SpaceCheckBytes || (firstWrite && SpaceShort)) {
        WrittenSinceSpaceCheck = 0;
        uint64_t free = 0;
        SpaceShort = FreeDiskSpace(".", &free) && free < DiskReserveBytes;
    }
    return SpaceShort;
}

uint64_t NowMs() {
    return GetTickCount64();
}

}  // namespace

namespace {

enum {
    // Bytes read and written at a time: what a kill loses at most; K slots cost K times this while in flight.
    ReadBufferSize = 64 * 1024,
    // An unusable answer's body up to this long is read and dropped, so that its connection stays usable.
    DrainBytes = 64 * 1024,
    // The update run's transfers, a patch's ranges in flight and the start-up's own.
    SlotCount = MaxTransfersInFlight + 2,
};

// Requests of every transfer: keep the body out of the URL cache, ask caches on the way for a fresh copy, and keep
// the connection for the next file.
const DWORD RequestFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE |
                           INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI;

// One transfer in flight as the watchdog sees it; lives on its thread's stack.
struct Flight {
    HINTERNET request = nullptr;
    volatile LONG lastActivity = (LONG)GetTickCount();  // GetTickCount of the last sign of life
    volatile LONG received = 0;                         // body bytes so far
    volatile LONG timedOut = 0;                         // set once by the watchdog
    volatile LONG closed = 0;                           // the request handle was closed (by whichever came first)
    volatile LONG answered = 0;                         // the answer's head arrived

    void Touch() { InterlockedExchange(&lastActivity, (LONG)GetTickCount()); }
    // Closing the handle is the one way to stop a blocking call on another thread; done once.
    void Close() {
        if (InterlockedExchange(&closed, 1) == 0) InternetCloseHandle(request);
    }
};

// The process's session and its slots. A slot is a connection handle to one host, kept from one transfer to the
// next so that WinINet reuses its open connection; a transfer takes a free slot for its whole time.
struct Session {
    CRITICAL_SECTION lock;
    HINTERNET internet = nullptr;
    bool tried = false;
    struct Slot {
        HINTERNET connect;
        char host[256];
        unsigned port;
        bool busy;
    } slots[SlotCount] = {};
    // Whether a host's ("host:port") requests carry cookies, from its first request on.
    std::map<std::string, bool> carriesCookies;

    Session() { InitializeCriticalSection(&lock); }
} TheSession;

// A silence is ended by the network layer itself, since a close from another thread need not stop a blocked
// receive (under Wine it does not); Wine gives new handles none of the session's time-outs, so each gets them.
void SetSilenceTimeouts(HINTERNET handle, DWORD silence = DownloadTimeoutSeconds * 1000u) {
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        InternetSetOptionA(handle, option, &silence, sizeof silence);
    }
}

// Opens the session once; the user's proxy settings apply (PRECONFIG). Called with the session's lock held.
void OpenSession() {
    if (TheSession.tried) return;
    TheSession.tried = true;
    // Windows allows few connections per server by default; the update run keeps more transfers in flight.
    DWORD connections = MaxTransferSlots;
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof connections);
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections, sizeof connections);
    TheSession.internet = InternetOpenA("Quorvane-Launcher/" LAUNCHER_VERSION, INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                       nullptr, 0);
    if (TheSession.internet) SetSilenceTimeouts(TheSession.internet);
}

// A connection handle to host:port: a free slot's, kept alive (slot is its index), or, when every slot is busy, one
// of its own (slot -1). Null when the session cannot be opened.
HINTERNET TakeSlot(const char* host, unsigned port, int* slot) {
    EnterCriticalSection(&TheSession.lock);
    OpenSession();
    HINTERNET connect = nullptr;
    *slot = -1;
    if (TheSession.internet) {
        int reuse = -1, spare = -1;
        for (int i = 0; i < SlotCount; ++i) {
            Session::Slot& s = TheSession.slots[i];
            if (s.busy) continue;
            if (s.connect && s.port == port && strcmp(s.host, host) == 0) {
                reuse = i;
                break;
            }
            if (spare < 0 || !s.connect) spare = i;
        }
        int chosen = reuse >= 0 ? reuse : spare;
        if (chosen >= 0) {
            Session::Slot& s = TheSession.slots[chosen];
            if (reuse < 0) {
                if (s.connect) InternetCloseHandle(s.connect);
                s.connect = InternetConnectA(TheSession.internet, host, (INTERNET_PORT)port, nullptr, nullptr,
                                             INTERNET_SERVICE_HTTP, 0, 0);
                if (s.connect) SetSilenceTimeouts(s.connect);
                snprintf(s.host, sizeof s.host, "%s", host);
                s.port = port;
            }
            if (s.connect) {
                s.busy = true;
                *slot = chosen;
                connect = s.connect;
            }
        } else {
            connect = InternetConnectA(TheSession.internet, host, (INTERNET_PORT)port, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, 0);
            if (connect) SetSilenceTimeouts(connect);
        }
    }
    LeaveCriticalSection(&TheSession.lock);
    return connect;
}

void GiveBackSlot(HINTERNET connect, int slot) {
    if (slot < 0) {
        if (connect) InternetCloseHandle(connect);
        return;
    }
    EnterCriticalSection(&TheSession.lock);
    TheSession.slots[slot].busy = false;
    LeaveCriticalSection(&TheSession.lock);
}

// Cookies. WinINet's own handling looks the cookie store up on every request, which under Wine costs several
// milliseconds of each one: most of a first install of many small files. So a host's requests go without it until
// the host is found to use cookies: the store holds some for its first request's address, or an answer sets one,
// which is kept in the store as WinINet keeps it. From then on its requests carry the store's cookies as before.
std::string HostKey(const char* host, unsigned port) {
    return std::string(host) + ":" + std::to_string(port);
}

// The cookie flag of a request for url on host:port.
DWORD CookieFlags(const char* url, const char* host, unsigned port) {
    const std::string key = HostKey(host, port);
    EnterCriticalSection(&TheSession.lock);
    auto known = TheSession.carriesCookies.find(key);
    bool found = known != TheSession.carriesCookies.end(), uses = found && known->second;
    LeaveCriticalSection(&TheSession.lock);
    if (!found) {
        char cookies[2] = "";
        DWORD size = sizeof cookies;
        uses = InternetGetCookieA(url, nullptr, cookies, &size) || GetLastError() == ERROR_INSUFFICIENT_BUFFER;
        EnterCriticalSection(&TheSession.lock);
        TheSession.carriesCookies.emplace(key, uses);  // an answer's cookie meanwhile stays
        LeaveCriticalSection(&TheSession.lock);
    }
    return uses ? 0 : INTERNET_FLAG_NO_COOKIES;
}

// Keeps the cookies an answer to a request without them sets, and has the host's requests carry cookies from now on.
void KeepCookies(const char* url, const char* host, unsigned port, const char* head) {
    const char* value = HeaderValue(head, "set-cookie:");
    if (!value) return;
    for (; value; value = strchr(value, '\n') ? HeaderValue(strchr(value, '\n') + 1, "set-cookie:") : nullptr) {
        InternetSetCookieA(url, nullptr, std::string(value, strcspn(value, "\r\n")).c_str());
    }
    EnterCriticalSection(&TheSession.lock);
    TheSession.carriesCookies[HostKey(host, port)] = true;
    LeaveCriticalSection(&TheSession.lock);
}

// What the watchdog keeps of one transfer in flight.
struct Watch {
    Flight* flight;           // null when the entry is free
    DWORD whole;              // milliseconds for the whole body from the request; 0: no bound
    DWORD window;             // milliseconds of the minimum-rate window; 0: no bound
    DWORD firstByte;          // milliseconds for the answer's head from the request; 0: no bound
    DWORD minWindowBytes;
    DWORD started, windowStart, windowBytes;
    bool aborting;            // the watchdog is closing it outside the lock; the entry stays until that returned
};

// One watchdog thread for every transfer of the process: a stalled connection leaves a transfer's thread blocked
// in a call, so the time is kept here and the request closed from here: after a silence, once the whole time is
// over, or when a window passed with less than its minimum of bytes.
struct Watchdog {
    CRITICAL_SECTION lock;
    HANDLE wake = nullptr;    // set when a transfer is added
    Watch watches[SlotCount] = {};
    bool started = false;
    bool asleep = false;      // waiting for the wake event, with nothing to watch

    Watchdog() { InitializeCriticalSection(&lock); }
} Watchdogs;

DWORD WINAPI WatchTransfers(void*) {
    const DWORD silence = DownloadTimeoutSeconds * 1000u;
    for (;;) {
        bool any = false;
        for (Watch& watch : Watchdogs.watches) {
            EnterCriticalSection(&Watchdogs.lock);
            Flight* flight = watch.aborting ? nullptr : watch.flight;
            if (flight) {
                any = true;
                DWORD now = GetTickCount();
                bool late = now - (DWORD)flight->lastActivity >= silence ||
                            (watch.whole && now - watch.started >= watch.whole) ||
                            (watch.firstByte && !flight->answered && now - watch.started >= watch.firstByte);
                if (watch.window && now - watch.windowStart >= watch.window) {
                    DWORD bytes = (DWORD)flight->received;
                    if (bytes - watch.windowBytes < watch.minWindowBytes) late = true;
                    watch.windowStart = now;
                    watch.windowBytes = bytes;
                }
                watch.aborting = late;
            }
            LeaveCriticalSection(&Watchdogs.lock);
            if (!flight || !watch.aborting) continue;
            InterlockedExchange(&flight->timedOut, 1);
            flight->Close();
            EnterCriticalSection(&Watchdogs.lock);
            watch.aborting = false;
            watch.flight = nullptr;  // closed: nothing more to watch
            LeaveCriticalSection(&Watchdogs.lock);
        }
        // It sleeps only once no transfer is left under the lock that StartWatching takes to add one.
        EnterCriticalSection(&Watchdogs.lock);
        for (const Watch& watch : Watchdogs.watches) any = any || watch.flight;
        Watchdogs.asleep = !any;
        LeaveCriticalSection(&Watchdogs.lock);
        WaitForSingleObject(Watchdogs.wake, any ? 100 : INFINITE);
    }
}

// Adds a transfer to the watchdog; null when no entry is free (then only the network layer's time-outs apply).
Watch* StartWatching(Flight& flight, const TransferLimits& limits) {
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
    bool wake = false;
    for (Watch& watch : Watchdogs.watches) {
        if (Watchdogs.started && !watch.flight && !watch.aborting) {
            DWORD now = GetTickCount();
            watch = Watch{&flight, limits.wholeSeconds * 1000u, limits.rateWindowSeconds * 1000u,
                          limits.firstByteMs, (DWORD)limits.minWindowBytes, now, now, 0, false};
            found = &watch;
            // The watchdog looks every 100 ms while it watches any; it is woken only from its sleep.
            wake = Watchdogs.asleep;
            Watchdogs.asleep = false;
            break;
        }
    }
    LeaveCriticalSection(&Watchdogs.lock);
    if (wake) SetEvent(Watchdogs.wake);
    return found;
}

// Removes a transfer from the watchdog, once a close under way has returned.
void StopWatching(Watch* watch, Flight& flight) {
    if (!watch) return;
    for (;;) {
        EnterCriticalSection(&Watchdogs.lock);
        bool aborting = watch->aborting && watch->flight == &flight;
        if (!aborting && watch->flight == &flight) watch->flight = nullptr;
        LeaveCriticalSection(&Watchdogs.lock);
        if (!aborting) return;
        Sleep(1);
    }
}

// The answer's head as one block of "Name: value" lines ended by CR LF.
std::string RawHeaders(HINTERNET request) {
    std::string headers(4096, '\0');
    DWORD size = (DWORD)headers.size();
    if (!HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, &headers[0], &size, nullptr)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::string();
        headers.assign(size + 1, '\0');
        if (!HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, &headers[0], &size, nullptr)) return std::string();
    }
    headers.resize(size);
    return headers;
}

// Reads the body into file, or hands it to sink, or drops it when there is neither, within limit bytes.
void ReadBody(HINTERNET request, HANDLE file, uint64_t limit, Flight& flight, TransportResult* result,
              BodySink* sink = nullptr, StreamDigests* digests = nullptr) {
    std::vector<char> buffer(ReadBufferSize);
    bool firstWrite = true;
    const uint64_t started = NowMs();
    for (;;) {
        // What has arrived, or what the body brings in a moment at its rate, is asked for: a read of the whole
        // buffer could wait long on a slow line, and one of just what arrived costs a call per few kilobytes.
        DWORD available = 0, got = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0)) break;
        if (available == 0) {
            result->ended = true;
            break;
        }
        DWORD wanted = NextReadSize(available, result->stored, NowMs() - started, ReadBufferSize);
        // The player's pause stops the transfer here, what arrived kept; the download limit holds it back here.
        if (!TransferControl.Pass(wanted, NowMs)) {
            result->paused = true;
            return;
        }
        if (!InternetReadFile(request, buffer.data(), wanted, &got)) {
            break;
        }
        flight.Touch();
        if (flight.timedOut) break;
        if (got == 0) {
            result->ended = true;
            break;
        }
        if (result->stored + got > limit) {
            got = (DWORD)(limit - result->stored);
            result->tooLarge = true;
        }
        if (sink && got && !sink->Take(buffer.data(), got)) {
            result->writeFailed = true;
            return;
        }
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            if (got && (!WriteFile(file, buffer.data(), got, &written, nullptr) || written != got)) {
                result->writeFailed = true;
                result->lastError = (long)GetLastError();
                return;
            }
            if (digests) {
                digests->bytes += got;
                Sha1Update(digests->sha1, buffer.data(), got);
                if (digests->sha256Wanted) Sha256Update(digests->sha256, buffer.data(), got);
            }
        }
        result->stored += got;
        if (!sink) RunMeter.Add(got);  // a sink counts what it keeps
        InterlockedExchange(&flight.received, (LONG)result->stored);
        // No write takes the volume below its reserve: the file fails, what arrived waits, nothing is replaced.
        if ((file != INVALID_HANDLE_VALUE || sink) && VolumeShort(got, firstWrite)) {
            result->diskLow = true;
            return;
        }
        firstWrite = false;
        if (result->tooLarge) return;
    }
    if (!result->ended) result->lastError = (long)GetLastError();
}

// Opens the staging file with its first offset bytes kept and nothing beyond them. Its folder is made when it is
// missing, rather than asked for before every file: under Wine each question is a request to its server.
HANDLE OpenStagingFile(const char* name, int64_t offset) {
    auto open = [&] {
        return CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, offset ? OPEN_ALWAYS : CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE file = open();
    const char* slash = strrchr(name, '\\');
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND && slash && slash - name < MAX_PATH) {
        char folder[MAX_PATH];
        memcpy(folder, name, (size_t)(slash - name));
        folder[slash - name] = '\0';
        CreateDirectoryA(folder, nullptr);
        file = open();
    }
    if (file == INVALID_HANDLE_VALUE || offset == 0) return file;
    LARGE_INTEGER at;
    at.QuadPart = offset;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
        DWORD error = GetLastError();
        CloseHandle(file);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// Runs the request whose handle flight holds: sends it, reads the head and streams the body. Without cookies (the
// request's flags), an answer that sets one has the host's requests carry them from now on.
void Exchange(const TransportRequest& ask, Flight& flight, TransportResult* result, DWORD flags, const char* host,
              unsigned port) {
    // Several ranges take up to about MaxRangesPerRequest times 40 characters.
    char headers[3072] = "";
    if (ask.rangeHeader) {
        snprintf(headers, sizeof headers, "Range: %s\r\n", ask.rangeHeader);
    } else if (ask.closedRange) {
        snprintf(headers, sizeof headers, "Range: bytes=%llu-%llu\r\n", (unsigned long long)ask.rangeFirst,
                 (unsigned long long)ask.rangeLast);
    } else if (ask.rangeFirst) {
        snprintf(headers, sizeof headers, "Range: bytes=%llu-\r\n", (unsigned long long)ask.rangeFirst);
    }
    if (!HttpSendRequestA(flight.request, headers[0] ? headers : nullptr, headers[0] ? (DWORD)-1 : 0, nullptr, 0)) {
        result->lastError = (long)GetLastError();
        return;
    }
    flight.Touch();
    InterlockedExchange(&flight.answered, 1);
    // The head is here: the body has the usual silence bound.
    if (ask.limits.firstByteMs) SetSilenceTimeouts(flight.request);
    // The status is judged before anything else, from the answer itself.
    DWORD status = 0, size = sizeof status;
    if (!HttpQueryInfoA(flight.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
        result->lastError = (long)GetLastError();
        return;
    }
    result->status = (int)status;
    std::string head = RawHeaders(flight.request);
    if (flags & INTERNET_FLAG_NO_COOKIES) KeepCookies(ask.url, host, port, head.c_str());
    result->announced = ExpectedBodyLength(head.c_str());
    if (const char* range = HeaderValue(head.c_str(), "content-range:")) {
        result->contentRange.assign(range, strcspn(range, "\r\n"));
    }
    if (ask.sink) {
        // Not read on when the sink refuses the answer; a short body is read away to keep the connection.
        if (ask.sink->Begin(result->status, head.c_str())) {
            ReadBody(flight.request, INVALID_HANDLE_VALUE, UINT64_MAX, flight, result, ask.sink);
            if (result->ended && result->announced >= 0 && result->stored != (uint64_t)result->announced) {
                SetLastError(ERROR_INTERNET_CONNECTION_RESET);
                result->lastError = ERROR_INTERNET_CONNECTION_RESET;
            }
        } else if (result->announced >= 0 && result->announced <= DrainBytes) {
            ReadBody(flight.request, INVALID_HANDLE_VALUE, DrainBytes, flight, result);
            result->stored = 0;
        }
        return;
    }
    int64_t offset = ask.place(result->status, result->contentRange.empty() ? nullptr : result->contentRange.c_str());
    if (ask.totalCounted && !*ask.totalCounted && offset >= 0 && result->announced >= 0) {
        *ask.totalCounted = true;
        RunMeter.AddToTotal((uint64_t)offset + (uint64_t)result->announced);
    }
    if (offset < 0) {
        // Not stored; a short body (an error page) is read away so that the connection stays open.
        if (result->announced >= 0 && result->announced <= DrainBytes) {
            ReadBody(flight.request, INVALID_HANDLE_VALUE, DrainBytes, flight, result);
        }
        result->stored = 0;
        return;
    }
    // The body may be at most what the bound leaves: all of it for a whole file, the rest beyond the offset for
    // a resumed one; a closed range's bound is its own length.
    uint64_t limit = UINT64_MAX;
    if (ask.bounded) {
        limit = status == 206 && !ask.closedRange && ask.rangeFirst <= ask.maxBytes ? ask.maxBytes - ask.rangeFirst
                                                                                      : ask.maxBytes;
    }
    if (result->announced >= 0 && (uint64_t)result->announced > limit) {
        result->tooLarge = true;
        return;
    }
    HANDLE file = OpenStagingFile(ask.into, offset);
    if (file == INVALID_HANDLE_VALUE) {
        result->writeFailed = true;
        result->lastError = (long)GetLastError();
        return;
    }
    // A body from the file's start is digested as it is written; a resumed one is read back once whole.
    StreamDigests* digests = offset == 0 ? ask.digests : nullptr;
    if (digests) {
        Sha1Init(digests->sha1);
        if (digests->sha256Wanted) Sha256Init(digests->sha256);
        digests->whole = true;
        digests->bytes = 0;
    }
    ReadBody(flight.request, file, limit, flight, result, nullptr, digests);
    CloseHandle(file);
    // A body that ended before its announced length was cut: the connection was reset under it.
    if (result->ended && result->announced >= 0 && result->stored != (uint64_t)result->announced) {
        SetLastError(ERROR_INTERNET_CONNECTION_RESET);
        result->lastError = ERROR_INTERNET_CONNECTION_RESET;
    }
}

}  // namespace

void Transport(const TransportRequest& ask, TransportResult* result) {
    *result = TransportResult();
    char host[256];
    unsigned port;
    const char* object;
    if (!SplitHttpUrl(ask.url, host, sizeof host, &port, &object)) {
        result->lastError = ERROR_INTERNET_INVALID_URL;
        SetLastError(ERROR_INTERNET_INVALID_URL);
        return;
    }
    int slot;
    HINTERNET connect = TakeSlot(host, port, &slot);
    if (!connect) {
        result->lastError = (long)GetLastError();
        return;
    }
    Flight flight;
    const DWORD flags = RequestFlags | CookieFlags(ask.url, host, port);
    flight.request = HttpOpenRequestA(connect, "GET", object, "HTTP/1.1", nullptr, nullptr, flags, 0);
    if (!flight.request) {
        result->lastError = (long)GetLastError();
    } else {
        // The network layer ends a silent host itself, since the watchdog's close need not stop a blocked call.
        SetSilenceTimeouts(flight.request, ask.limits.firstByteMs ? ask.limits.firstByteMs
                                                                   : DownloadTimeoutSeconds * 1000u);
        Watch* watch = StartWatching(flight, ask.limits);
        Exchange(ask, flight, result, flags, host, port);
        StopWatching(watch, flight);
        flight.Close();
    }
    // Timed out: abandoned by the watchdog, or ended by the network layer's own silence time-out, which Wine
    // reports as a socket time-out (10060) or an aborted connection, so a transfer that ended unfinished after a
    // silence of about that length counts too.
    const long SocketTimedOut = 10060;
    DWORD quiet = GetTickCount() - (DWORD)flight.lastActivity;
    bool unfinished = !result->ended || (result->announced >= 0 && result->stored != (uint64_t)result->announced);
    const DWORD silence = ask.limits.firstByteMs && !flight.answered ? ask.limits.firstByteMs
                                                                      : DownloadTimeoutSeconds * 1000u;
    if (flight.timedOut || result->lastError == ERROR_INTERNET_TIMEOUT || result->lastError == SocketTimedOut ||
        (unfinished && !result->tooLarge && !result->writeFailed && quiet + 1000 >= silence)) {
        result->timedOut = true;
    }
    GiveBackSlot(connect, slot);
    SetLastError((DWORD)result->lastError);
}
