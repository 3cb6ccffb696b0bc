// Benchmark anchor (Windows): the bare download loop, URLDownloadToFileA file after file with the launcher's bind flags and nothing else; one thread.
//
// Usage: bench_fetch.exe LIST   (LIST: lines "URL TARGET"; the target's folder must exist)
// Prints: seconds=S files=N
#include <windows.h>
#include <urlmon.h>

#include <stdio.h>
#include <string.h>

#include <chrono>

namespace {

// Answers only GetBindInfo, with the flags DownloadFile uses, so both take the same path through urlmon.
class BindFlags : public IBindStatusCallback {
public:
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP_(ULONG) AddRef() override { return 0; }
    STDMETHODIMP_(ULONG) Release() override { return 0; }
    STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP OnLowResource(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override {
        *flags = BINDF_NOWRITECACHE | BINDF_PRAGMA_NO_CACHE;
        info->cbSize = sizeof(BINDINFO);
        return S_OK;
    }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: bench_fetch LIST\n");
        return 2;
    }
    FILE* list = fopen(argv[1], "r");
    if (!list) return 2;
    auto start = std::chrono::steady_clock::now();
    char line[2048];
    int files = 0, failed = 0;
    while (fgets(line, sizeof line, list)) {
        line[strcspn(line, "\r\n")] = '\0';
        char* space = strchr(line, ' ');
        if (!space) continue;
        *space = '\0';
        BindFlags callback;
        if (URLDownloadToFileA(nullptr, line, space + 1, 0, &callback) != S_OK) ++failed;
        ++files;
    }
    fclose(list);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("seconds=%.6f files=%d failed=%d\n", seconds, files, failed);
    return failed ? 1 : 0;
}
