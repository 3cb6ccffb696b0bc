// Benchmark floor (Windows): the bare WinINet loop, K threads taking files from one list over one session with
// the launcher's request flags, each body written through a 64 KiB buffer, nothing else; its own threads.
//
// Usage: bench_fetch_wininet.exe LIST [THREADS]   (LIST: lines "URL TARGET"; the target's folder must exist)
// Prints: seconds=S files=N failed=F peak_working_set=BYTES
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <stdio.h>
#include <string.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

struct Work {
    std::vector<std::string> urls, targets;
    volatile LONG next = -1;
    volatile LONG failed = 0;
    HINTERNET session = nullptr;
};

bool Fetch(HINTERNET connect, const char* object, const char* target, std::vector<char>& buffer) {
    // The launcher's flags for a host that sets no cookies.
    const DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE |
                        INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES;
    HINTERNET request = HttpOpenRequestA(connect, "GET", object, "HTTP/1.1", nullptr, nullptr, flags, 0);
    if (!request) return false;
    DWORD status = 0, size = sizeof status;
    bool ok = HttpSendRequestA(request, nullptr, 0, nullptr, 0) &&
              HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) &&
              status == 200;
    HANDLE file = ok ? CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                     : INVALID_HANDLE_VALUE;
    ok = ok && file != INVALID_HANDLE_VALUE;
    DWORD got = 0, written = 0;
    while (ok && InternetReadFile(request, buffer.data(), (DWORD)buffer.size(), &got) && got) {
        ok = WriteFile(file, buffer.data(), got, &written, nullptr) && written == got;
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    InternetCloseHandle(request);
    return ok;
}

DWORD WINAPI Run(void* argument) {
    Work& work = *static_cast<Work*>(argument);
    std::vector<char> buffer(64 * 1024);
    HINTERNET connect = nullptr;
    char connectedTo[256] = "";
    for (;;) {
        LONG i = InterlockedIncrement(&work.next);
        if (i >= (LONG)work.urls.size()) break;
        const char* url = work.urls[i].c_str();
        // "http://HOST:PORT/OBJECT"
        const char* host = url + 7;
        const char* object = strchr(host, '/');
        char hostPort[256];
        snprintf(hostPort, sizeof hostPort, "%.*s", (int)(object - host), host);
        if (!connect || strcmp(hostPort, connectedTo) != 0) {
            if (connect) InternetCloseHandle(connect);
            char name[256];
            snprintf(name, sizeof name, "%s", hostPort);
            char* colon = strchr(name, ':');
            INTERNET_PORT port = colon ? (INTERNET_PORT)atoi(colon + 1) : 80;
            if (colon) *colon = '\0';
            connect = InternetConnectA(work.session, name, port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
            snprintf(connectedTo, sizeof connectedTo, "%s", hostPort);
        }
        if (!connect || !Fetch(connect, object, work.targets[i].c_str(), buffer)) InterlockedIncrement(&work.failed);
    }
    if (connect) InternetCloseHandle(connect);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_fetch_wininet LIST [THREADS]\n");
        return 2;
    }
    int threads = argc > 2 ? atoi(argv[2]) : 8;
    if (threads < 1 || threads > 64) threads = 8;
    FILE* list = fopen(argv[1], "r");
    if (!list) return 2;
    Work work;
    char line[2048];
    while (fgets(line, sizeof line, list)) {
        line[strcspn(line, "\r\n")] = '\0';
        char* space = strchr(line, ' ');
        if (!space || strncmp(line, "http://", 7) != 0 || !strchr(line + 7, '/')) continue;
        *space = '\0';
        work.urls.push_back(line);
        work.targets.push_back(space + 1);
    }
    fclose(list);
    auto start = std::chrono::steady_clock::now();
    DWORD connections = (DWORD)threads;
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof connections);
    work.session = InternetOpenA("bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!work.session) return 2;
    std::vector<HANDLE> handles;
    for (int t = 0; t < threads; ++t) {
        HANDLE thread = CreateThread(nullptr, 64 * 1024, Run, &work, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (thread) handles.push_back(thread);
    }
    for (HANDLE thread : handles) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    InternetCloseHandle(work.session);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    printf("seconds=%.6f files=%d failed=%ld peak_working_set=%lu\n", seconds, (int)work.urls.size(), (long)work.failed,
           (unsigned long)memory.PeakWorkingSetSize);
    return work.failed ? 1 : 0;
}
