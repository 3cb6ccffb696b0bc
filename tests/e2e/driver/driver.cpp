// End-to-end test driver: finds the launcher's window from outside its process, reports what a player would see
// as JSON lines and drives its controls; a single-threaded console program that the test harness runs under Wine.
//
// Usage: driver.exe [--out FILE] [--timeout SECONDS] [--class NAME] COMMAND [ARGS] [+ COMMAND [ARGS]]...
// ("lock FILE SECONDS" needs no window: it holds a file open without sharing, for tests of a locked game file.)
// Each command writes one JSON object on a line of its own; commands joined by "+" run in one process (starting a
// Windows program under Wine costs a good fraction of a second). The first failing command writes
// {"cmd":...,"ok":false,"error":...} and ends the run with exit code 1.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

FILE* Out = stdout;
double FindTimeoutSeconds = 30;
std::wstring WindowClass = L"Quorvane Launcher";

// ---- JSON output ---------------------------------------------------------------------------------------------

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), NULL, 0, NULL, NULL);
    std::string result(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &result[0], size, NULL, NULL);
    return result;
}

std::string Quote(const std::wstring& text) {
    std::string utf8 = Utf8(text), result = "\"";
    for (unsigned char c : utf8) {
        char escape[8];
        if (c == '"' || c == '\\') {
            result += '\\';
            result += (char)c;
        } else if (c < 0x20) {
            snprintf(escape, sizeof escape, "\\u%04x", c);
            result += escape;
        } else {
            result += (char)c;
        }
    }
    return result + "\"";
}

// Builds one JSON object field by field.
class JsonObject {
public:
    JsonObject& Raw(const char* key, const std::string& value) {
        text_ += text_.empty() ? "{" : ",";
        text_ += "\"";
        text_ += key;
        text_ += "\":";
        text_ += value;
        return *this;
    }
    JsonObject& Str(const char* key, const std::wstring& value) { return Raw(key, Quote(value)); }
    JsonObject& Int(const char* key, long long value) {
        char number[32];
        snprintf(number, sizeof number, "%lld", value);
        return Raw(key, number);
    }
    JsonObject& Bool(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }
    JsonObject& Ints(const char* key, std::initializer_list<long long> values) {
        std::string list = "[";
        for (long long value : values) {
            char number[32];
            snprintf(number, sizeof number, "%s%lld", list.size() > 1 ? "," : "", value);
            list += number;
        }
        return Raw(key, list + "]");
    }
    std::string Text() const { return text_.empty() ? "{}" : text_ + "}"; }

private:
    std::string text_;
};

std::string JsonArray(const std::vector<std::string>& items) {
    std::string result = "[";
    for (size_t i = 0; i < items.size(); ++i) result += (i ? "," : "") + items[i];
    return result + "]";
}

void Emit(const char* command, JsonObject& fields) {
    JsonObject line;
    line.Str("cmd", std::wstring(command, command + strlen(command))).Bool("ok", true);
    std::string body = fields.Text();
    std::string text = line.Text();
    if (body.size() > 2) text = text.substr(0, text.size() - 1) + "," + body.substr(1);
    fprintf(Out, "%s\n", text.c_str());
    fflush(Out);
}

struct Failure {
    std::string message;
};

[[noreturn]] void Fail(const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    throw Failure{message};
}

// ---- Window lookup -------------------------------------------------------------------------------------------

double NowSeconds() {
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

// Wall-clock milliseconds since 1970; Wine's clock is the host's, so the harness can compare it with its own.
long long UnixMilliseconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    unsigned long long ticks = ((unsigned long long)now.dwHighDateTime << 32) | now.dwLowDateTime;
    return (long long)(ticks / 10000ULL) - 11644473600000LL;
}

int FindPolls = 0;  // polls the last search needed; 1 means the window was there already

HWND FindMainWindow(bool mustBeVisible, DWORD pollMilliseconds = 50) {
    double deadline = NowSeconds() + FindTimeoutSeconds;
    for (FindPolls = 1;; ++FindPolls) {
        HWND window = FindWindowW(WindowClass.c_str(), NULL);
        if (window && (!mustBeVisible || IsWindowVisible(window))) return window;
        if (NowSeconds() > deadline) {
            Fail(window ? "window of class \"%ls\" exists but is not visible" : "no window of class \"%ls\"",
                 WindowClass.c_str());
        }
        Sleep(pollMilliseconds);
    }
}

DWORD WindowProcess(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return name;
}

// WM_GETTEXT is carried across processes by the system, so it reads a control's real caption.
std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return L"";
    std::vector<wchar_t> text(length + 2, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), (LPARAM)text.data(), SMTO_ABORTIFHUNG, 5000, &copied);
    return std::wstring(text.data());
}

// Messages to the launcher's windows time out rather than hang the test when its main thread is stuck.
LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    // Wine's SendMessageTimeoutW can return 0 for a message answered with 0, so only an error code means failure.
    SetLastError(0);
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 10000, &result) && GetLastError())
        Fail("message 0x%x to window %p was not answered: error %lu", message, (void*)window, GetLastError());
    return (LRESULT)result;
}

// Direct children of the main window in creation order: a new child goes to the bottom of the z-order.
std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

HWND ChildOfClass(HWND parent, const wchar_t* className) {
    for (HWND child : Children(parent))
        if (_wcsicmp(ClassOf(child).c_str(), className) == 0) return child;
    Fail("no child of class %ls", className);
}

// Ids are not unique in the launcher's window (two group boxes share 6, the progress bar shares VSync's 10):
// a button wins over any other control with the same id.
HWND ButtonById(HWND parent, int id) {
    HWND other = NULL;
    for (HWND child : Children(parent)) {
        if (GetDlgCtrlID(child) != id) continue;
        if (_wcsicmp(ClassOf(child).c_str(), L"Button") == 0) return child;
        if (!other) other = child;
    }
    if (!other) Fail("no control with id %d", id);
    return other;
}

RECT RectInClient(HWND window, HWND parent) {
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, (POINT*)&rect, 2);
    return rect;
}

struct TopWindows {
    DWORD pid;
    const wchar_t* className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopWindow(HWND window, LPARAM context) {
    TopWindows* search = (TopWindows*)context;
    if (WindowProcess(window) == search->pid && _wcsicmp(ClassOf(window).c_str(), search->className) == 0)
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> TopWindowsOf(DWORD pid, const wchar_t* className) {
    TopWindows search{pid, className, {}};
    EnumWindows(CollectTopWindow, (LPARAM)&search);
    return search.found;
}

// ---- Arguments -----------------------------------------------------------------------------------------------

typedef std::vector<std::wstring> Args;

const std::wstring& Arg(const Args& args, size_t index, const char* what) {
    if (index >= args.size()) Fail("missing argument: %s", what);
    return args[index];
}

long IntArg(const Args& args, size_t index, const char* what) {
    const std::wstring& text = Arg(args, index, what);
    wchar_t* end = NULL;
    long value = wcstol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end) Fail("%s is not a number: %ls", what, text.c_str());
    return value;
}

double SecondsArg(const Args& args, size_t index, double fallback) {
    if (index >= args.size()) return fallback;
    return _wtof(args[index].c_str());
}

// ---- Commands ------------------------------------------------------------------------------------------------

// Polls every 5 ms, so that seen_unix_ms also serves the start-up benchmark.
void CommandWait(const Args&) {
    double start = NowSeconds();
    HWND window = FindMainWindow(true, 5);
    JsonObject fields;
    fields.Int("seen_unix_ms", UnixMilliseconds()).Bool("first_poll", FindPolls == 1);
    fields.Int("hwnd", (long long)(INT_PTR)window).Int("pid", WindowProcess(window));
    fields.Int("waited_ms", (long long)((NowSeconds() - start) * 1000));
    Emit("wait", fields);
}

// A class value of another process's window, or null where the system will not tell (Wine answers only the
// class style and extra sizes across processes).
std::string ClassValue(HWND window, int index) {
    SetLastError(0);
    ULONG_PTR value = GetClassLongPtrW(window, index);
    if (!value && GetLastError()) return "null";
    char text[32];
    snprintf(text, sizeof text, "%llu", (unsigned long long)value);
    return text;
}

void CommandWindow(const Args&) {
    HWND window = FindMainWindow(false);
    RECT outer, client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    DWORD pid = WindowProcess(window);

    JsonObject fields;
    fields.Str("title", TextOf(window)).Str("class", ClassOf(window)).Int("pid", pid);
    fields.Ints("rect", {outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top});
    fields.Ints("client", {origin.x, origin.y, client.right, client.bottom});
    fields.Int("style", (DWORD)GetWindowLongW(window, GWL_STYLE));
    fields.Int("exstyle", (DWORD)GetWindowLongW(window, GWL_EXSTYLE));
    fields.Bool("visible", IsWindowVisible(window)).Bool("enabled", IsWindowEnabled(window));
    fields.Ints("fullscreen", {GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN)});
    fields.Ints("screen", {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
    fields.Raw("class_style", ClassValue(window, GCL_STYLE));
    fields.Raw("class_brush", ClassValue(window, GCLP_HBRBACKGROUND));
    fields.Raw("class_icon", ClassValue(window, GCLP_HICON));
    fields.Raw("class_small_icon", ClassValue(window, GCLP_HICONSM));
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    fields.Int("priority_class", process ? (long long)GetPriorityClass(process) : -1);
    if (process) CloseHandle(process);
    Emit("window", fields);
}

void CommandControls(const Args&) {
    HWND window = FindMainWindow(false);
    std::vector<std::string> controls;
    for (HWND child : Children(window)) {
        std::wstring className = ClassOf(child);
        RECT rect = RectInClient(child, window);
        JsonObject control;
        control.Str("class", className).Str("caption", TextOf(child)).Int("id", GetDlgCtrlID(child));
        control.Int("style", (DWORD)GetWindowLongW(child, GWL_STYLE));
        control.Int("exstyle", (DWORD)GetWindowLongW(child, GWL_EXSTYLE));
        control.Ints("rect", {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top});
        control.Bool("enabled", IsWindowEnabled(child)).Bool("visible", IsWindowVisible(child));
        if (_wcsicmp(className.c_str(), L"Button") == 0) control.Int("check", Ask(child, BM_GETCHECK, 0, 0));
        // Under Wine a control of another process answers WM_GETFONT with 0 even when it has a font.
        control.Bool("has_font", Ask(child, WM_GETFONT, 0, 0) != 0);
        controls.push_back(control.Text());
    }
    JsonObject fields;
    fields.Int("count", (long long)controls.size()).Raw("controls", JsonArray(controls));
    Emit("controls", fields);
}

// Unicode list messages: the ANSI ones can overrun the reader's buffer when read from another process under Wine.
JsonObject ListSnapshot(HWND list) {
    long count = (long)Ask(list, LB_GETCOUNT, 0, 0);
    std::vector<std::string> lines;
    for (long i = 0; i < count; ++i) {
        long length = (long)Ask(list, LB_GETTEXTLEN, i, 0);
        std::vector<wchar_t> text(length > 0 ? length + 16 : 16, L'\0');
        Ask(list, LB_GETTEXT, i, (LPARAM)text.data());
        lines.push_back(Quote(text.data()));
    }
    JsonObject fields;
    fields.Int("count", count).Int("selected", (long)Ask(list, LB_GETCURSEL, 0, 0));
    fields.Int("top", (long)Ask(list, LB_GETTOPINDEX, 0, 0)).Raw("lines", JsonArray(lines));
    return fields;
}

void CommandList(const Args&) {
    JsonObject fields = ListSnapshot(ChildOfClass(FindMainWindow(false), L"ListBox"));
    Emit("list", fields);
}

// PBM_GETRANGE with a null structure answers one limit at a time, so nothing points into this process.
void CommandProgress(const Args&) {
    HWND bar = ChildOfClass(FindMainWindow(false), PROGRESS_CLASSW);
    JsonObject fields;
    fields.Int("low", (long)Ask(bar, PBM_GETRANGE, TRUE, 0)).Int("high", (long)Ask(bar, PBM_GETRANGE, FALSE, 0));
    fields.Int("pos", (long)Ask(bar, PBM_GETPOS, 0, 0)).Int("id", GetDlgCtrlID(bar));
    Emit("progress", fields);
}

// Posted, not sent: a command may open a modal message box, and a sent message would wait for it to close.
void CommandClick(const Args& args) {
    long id = IntArg(args, 0, "control id");
    bool viaCommand = args.size() > 1 && args[1] == L"--wm-command";
    HWND window = FindMainWindow(true);
    HWND control = ButtonById(window, (int)id);
    if (!IsWindowEnabled(control)) Fail("control %ld is disabled", id);
    if (!IsWindowVisible(control)) Fail("control %ld is hidden", id);
    JsonObject fields;
    fields.Int("id", id).Str("caption", TextOf(control)).Str("via", viaCommand ? L"WM_COMMAND" : L"BM_CLICK");
    BOOL posted = viaCommand ? PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)control)
                             : PostMessageW(control, BM_CLICK, 0, 0);
    if (!posted) Fail("could not post the click: error %lu", GetLastError());
    Emit("click", fields);
}

void CommandCommand(const Args& args) {
    long id = IntArg(args, 0, "command id");
    HWND window = FindMainWindow(false);
    if (!PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0)) Fail("could not post: error %lu", GetLastError());
    JsonObject fields;
    fields.Int("id", id);
    Emit("command", fields);
}

void CommandClose(const Args&) {
    HWND window = FindMainWindow(false);
    JsonObject fields;
    fields.Int("pid", WindowProcess(window));
    if (!PostMessageW(window, WM_CLOSE, 0, 0)) Fail("could not post WM_CLOSE: error %lu", GetLastError());
    Emit("close", fields);
}

// ---- Screen capture ------------------------------------------------------------------------------------------

struct Capture {
    int width = 0, height = 0;
    std::vector<unsigned char> bgra;  // top-down rows of 4 bytes per pixel

    COLORREF Pixel(int x, int y) const {
        const unsigned char* p = &bgra[((size_t)y * width + x) * 4];
        return RGB(p[2], p[1], p[0]);
    }
};

// Copies the main window's client area from the screen, as the player sees it, with the pointer moved away so
// that no tooltip covers it.
Capture CaptureClient(HWND window) {
    SetCursorPos(0, 0);
    RECT client;
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    Capture capture;
    capture.width = client.right;
    capture.height = client.bottom;
    if (capture.width <= 0 || capture.height <= 0) Fail("the window has an empty client area");

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = capture.width;
    info.bmiHeader.biHeight = -capture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = NULL;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    if (!bitmap) Fail("CreateDIBSection failed");
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BOOL copied = BitBlt(memory, 0, 0, capture.width, capture.height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    capture.bgra.assign((unsigned char*)bits, (unsigned char*)bits + (size_t)capture.width * capture.height * 4);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    if (!copied) Fail("BitBlt from the screen failed");
    return capture;
}

void WriteBmp(const Capture& capture, const std::wstring& path) {
    int rowSize = (capture.width * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = capture.width;
    header.biHeight = capture.height;  // positive: bottom-up rows, the common form
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = (DWORD)rowSize * capture.height;
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + header.biSizeImage;
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (!out) Fail("cannot write %ls", path.c_str());
    fwrite(&file, sizeof file, 1, out);
    fwrite(&header, sizeof header, 1, out);
    std::vector<unsigned char> row(rowSize, 0);
    for (int y = capture.height - 1; y >= 0; --y) {
        for (int x = 0; x < capture.width; ++x) memcpy(&row[x * 3], &capture.bgra[((size_t)y * capture.width + x) * 4], 3);
        fwrite(row.data(), 1, row.size(), out);
    }
    if (fclose(out) != 0) Fail("cannot write %ls", path.c_str());
}

JsonObject& AddColor(JsonObject& fields, const char* key, COLORREF color) {
    return fields.Ints(key, {GetRValue(color), GetGValue(color), GetBValue(color)});
}

void CommandPixel(const Args& args) {
    long x = IntArg(args, 0, "x"), y = IntArg(args, 1, "y");
    Capture capture = CaptureClient(FindMainWindow(true));
    if (x < 0 || y < 0 || x >= capture.width || y >= capture.height) Fail("(%ld, %ld) is outside the client area", x, y);
    JsonObject fields;
    fields.Int("x", x).Int("y", y);
    AddColor(fields, "rgb", capture.Pixel(x, y));
    AddColor(fields, "window_color", GetSysColor(COLOR_WINDOW));
    Emit("pixel", fields);
}

void CommandScreenshot(const Args& args) {
    const std::wstring& path = Arg(args, 0, "file name");
    Capture capture = CaptureClient(FindMainWindow(true));
    WriteBmp(capture, path);
    JsonObject fields;
    fields.Str("file", path).Int("width", capture.width).Int("height", capture.height);
    AddColor(fields, "window_color", GetSysColor(COLOR_WINDOW));
    Emit("screenshot", fields);
}

// ---- Tooltips and message boxes ------------------------------------------------------------------------------

// Tool information only travels by pointer, so the structure and the text buffer live in the launcher's own
// address space while the tooltip fills them.
class RemoteBuffer {
public:
    RemoteBuffer(DWORD pid, size_t size) : size_(size) {
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (!process_) Fail("cannot open process %lu: error %lu", pid, GetLastError());
        address_ = VirtualAllocEx(process_, NULL, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!address_) Fail("VirtualAllocEx failed: error %lu", GetLastError());
    }
    ~RemoteBuffer() {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    char* Address() const { return (char*)address_; }
    void Write(size_t offset, const void* data, size_t size) {
        SIZE_T done = 0;
        if (!WriteProcessMemory(process_, Address() + offset, data, size, &done) || done != size)
            Fail("WriteProcessMemory failed");
    }
    void Read(size_t offset, void* data, size_t size) {
        SIZE_T done = 0;
        if (!ReadProcessMemory(process_, Address() + offset, data, size, &done) || done != size)
            Fail("ReadProcessMemory failed");
    }

private:
    HANDLE process_ = NULL;
    void* address_ = NULL;
    size_t size_;
};

void CommandTooltips(const Args&) {
    HWND window = FindMainWindow(false);
    DWORD pid = WindowProcess(window);
    // The launcher makes its tooltips once its window shows, before it first waits for input.
    if (HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid)) {
        WaitForInputIdle(process, 30000);
        CloseHandle(process);
    }
    const size_t textChars = 4096;
    RemoteBuffer remote(pid, sizeof(TTTOOLINFOW) + textChars * sizeof(wchar_t));
    wchar_t* remoteText = (wchar_t*)(remote.Address() + sizeof(TTTOOLINFOW));
    // Each tooltip is put on top of the topmost windows as it is made, and none has shown since while the pointer
    // rests on no control: from the bottom up they stand in the order in which they were made.
    std::vector<HWND> madeInOrder = TopWindowsOf(pid, TOOLTIPS_CLASSW);
    std::reverse(madeInOrder.begin(), madeInOrder.end());
    std::vector<std::string> tips;
    for (HWND tip : madeInOrder) {
        std::vector<std::string> tools;
        long count = (long)Ask(tip, TTM_GETTOOLCOUNT, 0, 0);
        for (long i = 0; i < count; ++i) {
            TTTOOLINFOW info{};
            info.cbSize = sizeof info;
            info.lpszText = remoteText;
            std::vector<wchar_t> text(textChars, L'\0');
            remote.Write(0, &info, sizeof info);
            remote.Write(sizeof info, text.data(), text.size() * sizeof(wchar_t));
            if (!Ask(tip, TTM_ENUMTOOLSW, i, (LPARAM)remote.Address())) continue;
            remote.Read(0, &info, sizeof info);
            // TTM_GETTEXTW takes the buffer's size in characters, so a long text cannot overrun it.
            info.lpszText = remoteText;
            remote.Write(0, &info, sizeof info);
            Ask(tip, TTM_GETTEXTW, textChars - 1, (LPARAM)remote.Address());
            remote.Read(sizeof info, text.data(), (textChars - 1) * sizeof(wchar_t));
            HWND control = (info.uFlags & TTF_IDISHWND) ? (HWND)info.uId : info.hwnd;
            JsonObject tool;
            tool.Int("flags", info.uFlags).Int("control_id", GetDlgCtrlID(control));
            tool.Str("control_caption", TextOf(control)).Str("text", text.data());
            tool.Bool("tool_is_control", (HWND)info.uId == info.hwnd);
            tool.Ints("rect", {info.rect.left, info.rect.top, info.rect.right, info.rect.bottom});
            tools.push_back(tool.Text());
        }
        JsonObject entry;
        entry.Int("style", (DWORD)GetWindowLongW(tip, GWL_STYLE)).Int("exstyle", (DWORD)GetWindowLongW(tip, GWL_EXSTYLE));
        entry.Int("max_width", (long)Ask(tip, TTM_GETMAXTIPWIDTH, 0, 0)).Raw("tools", JsonArray(tools));
        tips.push_back(entry.Text());
    }
    JsonObject fields;
    fields.Int("count", (long long)tips.size()).Raw("tooltips", JsonArray(tips));
    Emit("tooltips", fields);
}

// Reports the launcher's message boxes (waiting up to the given seconds for one to appear) and closes them
// with OK unless "--keep" follows.
void CommandMessageBox(const Args& args) {
    bool keep = false;
    double wait = 0;
    for (const std::wstring& arg : args) {
        if (arg == L"--keep") keep = true;
        else wait = _wtof(arg.c_str());
    }
    DWORD pid = WindowProcess(FindMainWindow(false));
    double deadline = NowSeconds() + wait;
    std::vector<HWND> boxes;
    for (;;) {
        boxes.clear();
        for (HWND box : TopWindowsOf(pid, L"#32770"))
            if (IsWindowVisible(box)) boxes.push_back(box);  // a box being closed turns invisible first
        if (!boxes.empty() || NowSeconds() >= deadline) break;
        Sleep(50);
    }
    std::vector<std::string> found;
    for (HWND box : boxes) {
        std::vector<std::string> buttons;
        for (HWND child : Children(box))
            if (_wcsicmp(ClassOf(child).c_str(), L"Button") == 0) buttons.push_back(Quote(TextOf(child)));
        JsonObject entry;
        HWND text = GetDlgItem(box, 0xFFFF);  // the message text of a system message box
        entry.Str("title", TextOf(box)).Str("text", text ? TextOf(text) : L"").Raw("buttons", JsonArray(buttons));
        entry.Bool("visible", IsWindowVisible(box));
        found.push_back(entry.Text());
        if (!keep) PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
    }
    // Closed boxes are gone before the answer, so the next command sees the launcher's window again.
    for (double until = NowSeconds() + 5; !keep && NowSeconds() < until;) {
        bool open = false;
        for (HWND box : boxes) open = open || (IsWindow(box) && IsWindowVisible(box));
        if (!open) break;
        Sleep(20);
    }
    JsonObject fields;
    fields.Int("count", (long long)found.size()).Raw("boxes", JsonArray(found)).Bool("closed", !keep);
    Emit("messagebox", fields);
}

// ---- Waiting and figures -------------------------------------------------------------------------------------

void CommandWaitEnabled(const Args& args) {
    long id = IntArg(args, 0, "control id");
    double deadline = NowSeconds() + SecondsArg(args, 1, 30), start = NowSeconds();
    HWND control = ButtonById(FindMainWindow(false), (int)id);
    while (!IsWindowEnabled(control)) {
        if (NowSeconds() > deadline) Fail("control %ld still disabled after %.1f s", id, SecondsArg(args, 1, 30));
        Sleep(50);
    }
    JsonObject fields;
    fields.Int("id", id).Int("waited_ms", (long long)((NowSeconds() - start) * 1000));
    Emit("wait-enabled", fields);
}

void CommandWaitList(const Args& args) {
    const std::wstring& wanted = Arg(args, 0, "text");
    double timeout = SecondsArg(args, 1, 30), deadline = NowSeconds() + timeout, start = NowSeconds();
    HWND list = ChildOfClass(FindMainWindow(false), L"ListBox");
    for (;;) {
        long count = (long)Ask(list, LB_GETCOUNT, 0, 0);
        for (long i = 0; i < count; ++i) {
            long length = (long)Ask(list, LB_GETTEXTLEN, i, 0);
            std::vector<wchar_t> text(length > 0 ? length + 16 : 16, L'\0');
            Ask(list, LB_GETTEXT, i, (LPARAM)text.data());
            if (wcsstr(text.data(), wanted.c_str())) {
                JsonObject fields = ListSnapshot(list);
                fields.Int("index", i).Int("waited_ms", (long long)((NowSeconds() - start) * 1000));
                Emit("wait-list", fields);
                return;
            }
        }
        if (NowSeconds() > deadline) Fail("no list line holds \"%ls\" after %.1f s", wanted.c_str(), timeout);
        Sleep(100);
    }
}

void CommandMemory(const Args&) {
    DWORD pid = WindowProcess(FindMainWindow(false));
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) Fail("cannot open process %lu", pid);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    BOOL ok = GetProcessMemoryInfo(process, &counters, sizeof counters);
    CloseHandle(process);
    if (!ok) Fail("GetProcessMemoryInfo failed: error %lu", GetLastError());
    JsonObject fields;
    fields.Int("pid", pid).Int("peak_working_set", counters.PeakWorkingSetSize).Int("working_set", counters.WorkingSetSize);
    fields.Int("peak_pagefile", counters.PeakPagefileUsage).Int("pagefile", counters.PagefileUsage);
    Emit("memory", fields);
}

// Holds a file open with no sharing (or, given "read", sharing only reading) for the given seconds, as another
// program can; answers once it holds it. A program that has just ended may still hold the file for a moment
// while Wine's server lets its handles go, so the open is tried again for up to 10 s.
void CommandLock(const Args& args) {
    const std::wstring& path = Arg(args, 0, "file name");
    double seconds = SecondsArg(args, 1, 10), deadline = NowSeconds() + 10;
    DWORD share = args.size() > 2 && args[2] == L"read" ? FILE_SHARE_READ : 0;
    HANDLE file;
    while ((file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, NULL, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL)) == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (NowSeconds() > deadline) Fail("cannot open %ls: error %lu", path.c_str(), error);
        Sleep(100);
    }
    JsonObject fields;
    fields.Str("file", path);
    Emit("lock", fields);
    Sleep((DWORD)(seconds * 1000));
    CloseHandle(file);
}

// What another process can do to the launcher: floods the window with its private log message
// (WM_APP + 1), posted and sent, with parameters from small integers to wild pointers, for the
// given seconds. The window must neither crash nor gain a line.
void CommandFlood(const Args& args) {
    double seconds = SecondsArg(args, 0, 3);
    HWND window = FindMainWindow(false);
    static char local[64] = "not a line of the launcher";
    const LPARAM values[] = {0, 1, -1, 0x10, (LPARAM)0xDEADBEEF, (LPARAM)local, (LPARAM)0x7FFE0000, (LPARAM)0x80000000};
    long posted = 0, sent = 0;
    double deadline = NowSeconds() + seconds;
    for (unsigned i = 0; NowSeconds() < deadline && IsWindow(window); ++i) {
        WPARAM wParam = (WPARAM)values[(i / 8) % 8];
        LPARAM lParam = values[i % 8];
        if (PostMessageW(window, WM_APP + 1, wParam, lParam)) ++posted;
        DWORD_PTR result;
        if (i % 4 == 0 && SendMessageTimeoutW(window, WM_APP + 1, wParam, lParam, SMTO_ABORTIFHUNG, 200, &result)) ++sent;
        // Leaves the window's queue room for the messages of its own threads.
        if (i % 64 == 63) Sleep(1);
    }
    JsonObject fields;
    fields.Int("posted", posted).Int("sent", sent);
    Emit("flood", fields);
}

struct Command {
    const wchar_t* name;
    void (*run)(const Args&);
};

const Command Commands[] = {
    {L"wait", CommandWait},
    {L"window", CommandWindow},
    {L"controls", CommandControls},
    {L"list", CommandList},
    {L"progress", CommandProgress},
    {L"click", CommandClick},
    {L"command", CommandCommand},
    {L"close", CommandClose},
    {L"pixel", CommandPixel},
    {L"screenshot", CommandScreenshot},
    {L"tooltips", CommandTooltips},
    {L"messagebox", CommandMessageBox},
    {L"wait-enabled", CommandWaitEnabled},
    {L"wait-list", CommandWaitList},
    {L"memory", CommandMemory},
    {L"lock", CommandLock},
    {L"flood", CommandFlood},
};

int Usage() {
    fprintf(stderr,
            "usage: driver.exe [--out FILE] [--timeout SECONDS] [--class NAME] COMMAND [ARGS] [+ COMMAND [ARGS]]...\n"
            "commands: wait, window, controls, list, progress, click ID [--wm-command], command ID, close,\n"
            "          pixel X Y, screenshot FILE.bmp, tooltips, messagebox [SECONDS] [--keep],\n"
            "          wait-enabled ID [SECONDS], wait-list TEXT [SECONDS], memory, lock FILE [SECONDS [read]],\n"
            "          flood [SECONDS]\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int i = 1;
    for (; i < argc && wcsncmp(argv[i], L"--", 2) == 0; i += 2) {
        if (i + 1 >= argc) return Usage();
        if (wcscmp(argv[i], L"--out") == 0) {
            Out = _wfopen(argv[i + 1], L"w");
            if (!Out) {
                fprintf(stderr, "driver: cannot write %ls\n", argv[i + 1]);
                return 2;
            }
        } else if (wcscmp(argv[i], L"--timeout") == 0) {
            FindTimeoutSeconds = _wtof(argv[i + 1]);
        } else if (wcscmp(argv[i], L"--class") == 0) {
            WindowClass = argv[i + 1];
        } else {
            return Usage();
        }
    }
    if (i >= argc) return Usage();

    while (i < argc) {
        std::wstring name = argv[i++];
        Args args;
        while (i < argc && wcscmp(argv[i], L"+") != 0) args.push_back(argv[i++]);
        ++i;  // the "+" between commands
        const Command* command = NULL;
        for (const Command& candidate : Commands)
            if (name == candidate.name) command = &candidate;
        try {
            if (!command) Fail("unknown command");
            command->run(args);
        } catch (const Failure& failure) {
            JsonObject line;
            line.Str("cmd", name).Bool("ok", false).Str("error", std::wstring(failure.message.begin(), failure.message.end()));
            fprintf(Out, "%s\n", line.Text().c_str());
            fflush(Out);
            if (Out != stdout) fclose(Out);
            return 1;
        }
    }
    if (Out != stdout) fclose(Out);
    return 0;
}
