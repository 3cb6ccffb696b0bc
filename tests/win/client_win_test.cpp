// Windows side of the client subsystem: start-up settings step, registry value, starting and stopping clients.
#include <windows.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <gtest/gtest.h>
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "client/client.h"
#include "client/compat_win.h"
#include "client/settings.h"
#include "launcher/window.h"
#include "tests/temp_folder.h"
#include "win/window_double.h"

namespace fs = std::filesystem;

namespace {

const char LayersKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
const char TestKey[] = "Software\\QuorvaneLauncherTests";
const char TestLayersKey[] = "Software\\QuorvaneLauncherTests\\Layers";
const char LayersData[] = "~ RUNASADMIN WIN8RTM";

std::string ModuleFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.rfind('\\'));
}

std::string ReadText(const std::string& path) {
    std::string text;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    fclose(file);
    return text;
}

// Lines of a text file, line ends of either kind removed.
std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::string text = ReadText(path), line;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

struct RegistryValue {
    LONG status;
    DWORD type;
    std::string data;   // every byte the ANSI query returns, the terminator included
    DWORD storedChars;  // characters as stored (the ANSI query may add a missing terminator)
};

RegistryValue QueryValue(HKEY root, const char* subKey, const std::string& name) {
    RegistryValue value{ERROR_FILE_NOT_FOUND, 0, "", 0};
    HKEY key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
    BYTE data[512];
    DWORD size = sizeof data;
    value.status = RegQueryValueExA(key, name.c_str(), NULL, &value.type, data, &size);
    if (value.status == ERROR_SUCCESS) value.data.assign((const char*)data, size);
    wchar_t wideName[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wideName, MAX_PATH);
    DWORD wideSize = 0;
    if (RegQueryValueExW(key, wideName, NULL, NULL, NULL, &wideSize) == ERROR_SUCCESS) {
        value.storedChars = wideSize / sizeof(wchar_t);
    }
    RegCloseKey(key);
    return value;
}

DWORD ValueCount(HKEY root, const char* subKey) {
    HKEY key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD count = 0;
    RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, &count, NULL, NULL, NULL, NULL);
    RegCloseKey(key);
    return count;
}

const std::string ExpectedData(LayersData, sizeof LayersData);  // 21 bytes with the terminator

// Each test works in a throwaway current directory and ends every process it started.
class ClientWin : public InTempFolder {
protected:
    void SetUp() override {
        InTempFolder::SetUp();
        folder_ = FolderPath();
        RegDeleteTreeA(HKEY_CURRENT_USER, TestKey);
        LauncherSettings = ClientOptions{0, 0, 0, 0, 0, 0, 0, 0, 1};
        UseStandInOptionBoxes();
        BoxChecks.clear();
    }
    void TearDown() override {
        for (HANDLE process : processes_) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
        KillStrayClients();
        RegDeleteTreeA(HKEY_CURRENT_USER, TestKey);
        InTempFolder::TearDown();
    }

    // Clients started through the shell are not ours to hold: end them by name.
    static void KillStrayClients() {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry;
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
            if (_stricmp(entry.szExeFile, "Client.exe") != 0) continue;
            HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
            if (!process) continue;
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
        CloseHandle(snapshot);
    }

    // Copies the stand-in client into the test folder under the given file name.
    std::string PlaceStandIn(const std::string& name) {
        std::string target = folder_ + "\\" + name;
        EXPECT_TRUE(CopyFileA((ModuleFolder() + "\\standin\\Client.exe").c_str(), target.c_str(), FALSE))
            << "stand-in client missing beside win_tests.exe";
        return target;
    }

    // Starts a program in the test folder, its standard streams going to out.txt and err.txt there; security, when
    // given, is the new process's own.
    HANDLE Run(const std::string& program, const std::string& arguments, bool captureStreams,
               const std::string& directory = "", SECURITY_ATTRIBUTES* security = NULL) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, NULL, TRUE};
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        HANDLE out = INVALID_HANDLE_VALUE, err = INVALID_HANDLE_VALUE;
        if (captureStreams) {
            out = CreateFileA("out.txt", GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, NULL);
            err = CreateFileA("err.txt", GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, NULL);
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = NULL;
            startup.hStdOutput = out;
            startup.hStdError = err;
        }
        std::string commandLine = "\"" + program + "\" " + arguments;
        PROCESS_INFORMATION info{};
        BOOL started = CreateProcessA(program.c_str(), &commandLine[0], security, NULL, captureStreams,
                                      CREATE_NO_WINDOW, NULL, (directory.empty() ? folder_ : directory).c_str(),
                                      &startup, &info);
        if (captureStreams) {
            CloseHandle(out);
            CloseHandle(err);
        }
        EXPECT_TRUE(started) << program << " error " << GetLastError();
        if (!started) return NULL;
        CloseHandle(info.hThread);
        processes_.push_back(info.hProcess);
        return info.hProcess;
    }

    // Runs the probe with one operation (in directory, by default the test folder) and returns its exit code.
    DWORD RunProbe(const char* operation, const std::string& directory = "") {
        HANDLE probe = Run(ModuleFolder() + "\\client_probe.exe", operation, true, directory);
        if (!probe) return 99;
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(probe, 60000)) << "probe " << operation << " hangs";
        DWORD code = 99;
        GetExitCodeProcess(probe, &code);
        return code;
    }

    // Waits until the stand-ins have recorded this many starts, that is until they all run. A Wine
    // process start under a loaded CPU can take many seconds, so the wait is long.
    std::vector<std::string> WaitForStarts(size_t count) {
        std::vector<std::string> lines;
        for (int tries = 0; tries < 2400; ++tries) {
            lines = ReadLines(folder_ + "\\client_started.txt");
            if (lines.size() >= count) break;
            Sleep(50);
        }
        return lines;
    }

    std::string folder_;
    std::vector<HANDLE> processes_;
};

// Boxes by id in the order the sync sets them: Windowed 7, LockMouse 8, Resizable 9, VSync 10, UnlockFps 13,
// IgnoreScaling 12, DoubleSize 14, Antialiasing 15.
TEST_F(ClientWin, BoxesShowTheFlagsInTheirOrder) {
    LauncherSettings = ClientOptions{1, 1, 0, 0, 0, 0, 1, 0, 0};  // windowed, borderless, vsync
    SyncOptionBoxes();
    const std::vector<BoxCheck> expected = {{7, 1}, {8, 0}, {9, 0}, {10, 1}, {13, 0}, {12, 0}, {14, 0}, {15, 0}};
    EXPECT_EQ(expected, BoxChecks);

    BoxChecks.clear();
    LauncherSettings = ClientOptions{0, 0, 1, 1, 1, 1, 0, 1, 1};
    SyncOptionBoxes();
    const std::vector<BoxCheck> inverse = {{7, 0}, {8, 1}, {9, 1}, {10, 0}, {13, 1}, {12, 1}, {14, 1}, {15, 1}};
    EXPECT_EQ(inverse, BoxChecks);
}

TEST_F(ClientWin, StartUpStepReadsTheFileShowsItAndRegistersTheClient) {
    fs::create_directory("contents");
    FILE* file = fopen("contents\\launcher.ini", "wb");
    ASSERT_NE(nullptr, file);
    fputs("windowed = 1\r\nvsync = 1\r\nantyaliasing = 0\r\nborderless = 1\r\n", file);
    fclose(file);

    std::string valueName = ModuleFolder() + "\\Client.exe";
    HKEY layers;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, LayersKey, 0, KEY_SET_VALUE, &layers) == ERROR_SUCCESS) {
        RegDeleteValueA(layers, valueName.c_str());
        RegCloseKey(layers);
    }

    InitClientSettings();
    std::vector<int> checked;
    for (const BoxCheck& check : BoxChecks) checked.push_back(check.checked);
    EXPECT_EQ((std::vector<int>{1, 0, 0, 1, 0, 0, 0, 0}), checked);

    RegistryValue value = QueryValue(HKEY_CURRENT_USER, LayersKey, valueName);
    ASSERT_EQ(ERROR_SUCCESS, value.status) << valueName;
    EXPECT_EQ((DWORD)REG_SZ, value.type);
    EXPECT_EQ(ExpectedData, value.data);
    EXPECT_EQ(21u, value.storedChars);

    if (RegOpenKeyExA(HKEY_CURRENT_USER, LayersKey, 0, KEY_SET_VALUE, &layers) == ERROR_SUCCESS) {
        RegDeleteValueA(layers, valueName.c_str());
        RegCloseKey(layers);
    }
}

TEST_F(ClientWin, StartUpStepWritesTheDefaultFileWhenMissing) {
    fs::create_directory("contents");
    InitClientSettings();
    std::vector<int> checked;
    for (const BoxCheck& check : BoxChecks) checked.push_back(check.checked);
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 0, 0, 0, 1}), checked);
    EXPECT_EQ(390u, ReadText("contents\\launcher.ini").size());
}

TEST_F(ClientWin, LayersValueIsNamedByTheClientPathAndReplacesOtherLayers) {
    struct Case {
        const char* modulePath;
        const char* valueName;
    };
    const Case cases[] = {
        {"C:\\Games\\Quorvane\\Launcher.exe", "C:\\Games\\Quorvane\\Client.exe"},
        {"C:\\Games\\Quorvane\\Patcher.exe", "C:\\Games\\Quorvane\\Client.exe"},
        {"D:\\Other\\Game\\Client.exe", "D:\\Other\\Game\\Client.exe"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(WriteCompatibilityLayer(HKEY_CURRENT_USER, TestLayersKey, c.modulePath)) << c.modulePath;
        RegistryValue value = QueryValue(HKEY_CURRENT_USER, TestLayersKey, c.valueName);
        ASSERT_EQ(ERROR_SUCCESS, value.status) << c.modulePath;
        EXPECT_EQ((DWORD)REG_SZ, value.type);
        EXPECT_EQ(ExpectedData, value.data) << c.modulePath;
        EXPECT_EQ(21u, value.storedChars) << c.modulePath;
    }
    // The first two launchers share a folder, so they share one value.
    EXPECT_EQ(2u, ValueCount(HKEY_CURRENT_USER, TestLayersKey));

    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, TestLayersKey, 0, KEY_SET_VALUE, &key));
    const char older[] = "~ HIGHDPIAWARE WINXPSP3 DISABLEDXMAXIMIZEDWINDOWEDMODE";
    RegSetValueExA(key, "C:\\Games\\Quorvane\\Client.exe", 0, REG_SZ, (const BYTE*)older, sizeof older);
    RegCloseKey(key);
    EXPECT_TRUE(WriteCompatibilityLayer(HKEY_CURRENT_USER, TestLayersKey, "C:\\Games\\Quorvane\\Launcher.exe"));
    RegistryValue replaced = QueryValue(HKEY_CURRENT_USER, TestLayersKey, "C:\\Games\\Quorvane\\Client.exe");
    EXPECT_EQ(ExpectedData, replaced.data);
    EXPECT_EQ(21u, replaced.storedChars);
}

TEST_F(ClientWin, NothingIsWrittenWhenTheClientPathCannotBeBuilt) {
    std::string longPath = "C:\\" + std::string(250, 'f') + "\\L.exe";  // folder + "\Client.exe" > 259
    EXPECT_FALSE(WriteCompatibilityLayer(HKEY_CURRENT_USER, TestLayersKey, longPath.c_str()));
    EXPECT_FALSE(WriteCompatibilityLayer(HKEY_CURRENT_USER, TestLayersKey, ""));
    EXPECT_EQ(0u, ValueCount(HKEY_CURRENT_USER, TestLayersKey));
}

TEST_F(ClientWin, RefusedKeyWritesNothingAndReturns) {
    // A non-volatile key cannot be created below a volatile one.
    HKEY parent;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, TestKey, 0, NULL, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, NULL, &parent, NULL));
    EXPECT_FALSE(WriteCompatibilityLayer(parent, "Layers", "C:\\Games\\Quorvane\\Launcher.exe"));
    HKEY child;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(parent, "Layers", 0, KEY_READ, &child));
    RegCloseKey(parent);

    // A root handle that is no key at all.
    EXPECT_FALSE(WriteCompatibilityLayer((HKEY)(ULONG_PTR)0x0BADF00D, "Layers", "C:\\Games\\Launcher.exe"));
}

TEST_F(ClientWin, StopReportsProcessNotFoundWhenNoClientRuns) {
    EXPECT_EQ(0u, RunProbe("stop"));
    EXPECT_EQ(std::vector<std::string>{}, ReadLines(folder_ + "\\out.txt"));
    EXPECT_EQ(std::vector<std::string>{"Process not found"}, ReadLines(folder_ + "\\err.txt"));
}

TEST_F(ClientWin, StopEndsAtAClientItCannotOpen) {
    std::string client = PlaceStandIn("Client.exe");
    // Everyone is refused PROCESS_TERMINATE (0x1) on it; the handle that Run keeps has every right all the same.
    PSECURITY_DESCRIPTOR refusing = NULL;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(D;;0x1;;;WD)(A;;GA;;;WD)", SDDL_REVISION_1,
                                                                     &refusing, NULL));
    SECURITY_ATTRIBUTES security{sizeof security, refusing, FALSE};
    HANDLE process = Run(client, "", false, "", &security);
    LocalFree(refusing);
    ASSERT_EQ(1u, WaitForStarts(1).size());

    EXPECT_EQ(0u, RunProbe("stop"));
    EXPECT_EQ(std::vector<std::string>{}, ReadLines(folder_ + "\\out.txt"));
    // The fixed text alone, so that a script may compare the line.
    EXPECT_EQ(std::vector<std::string>{"Failed to open process handle"}, ReadLines(folder_ + "\\err.txt"));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(process, 0));
}

TEST_F(ClientWin, StopTerminatesOnlyTheClientOfTheCurrentFolder) {
    std::string client = PlaceStandIn("Client.exe");
    fs::create_directory(folder_ + "\\other");
    fs::create_directory(folder_ + "\\upper");
    std::string other = PlaceStandIn("other\\Client.exe");
    std::string upper = PlaceStandIn("upper\\CLIENT.EXE");
    std::string prefixed = PlaceStandIn("MyClient.exe");

    // One after the other: stand-ins appending to client_started.txt at the same moment may overwrite each
    // other's line (the runtime's append mode seeks to the end, then writes).
    std::vector<HANDLE> clients, others;
    for (const std::string* program : {&client, &client, &other, &upper, &prefixed}) {
        (program == &client ? clients : others).push_back(Run(*program, "", false));
        ASSERT_EQ(clients.size() + others.size(), WaitForStarts(clients.size() + others.size()).size());
    }

    // The probe's current directory is the test folder written in capitals: the paths compare without case.
    std::string capitals = folder_;
    for (char& c : capitals) c = (char)toupper((unsigned char)c);
    EXPECT_EQ(0u, RunProbe("stop", capitals));
    EXPECT_EQ(std::vector<std::string>(2, "Process terminated successfully"), ReadLines(folder_ + "\\out.txt"));
    EXPECT_EQ(std::vector<std::string>{}, ReadLines(folder_ + "\\err.txt"));
    for (HANDLE process : clients) {
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 20000));
        DWORD code = 99;
        GetExitCodeProcess(process, &code);
        EXPECT_EQ(0u, code) << "a client is given exit code 0";
    }
    // Another folder's client, whatever the case of its name, and a program merely ending in Client.exe run on.
    for (HANDLE process : others) EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(process, 0));
}

TEST_F(ClientWin, StartRunsTheClientWithItsArgumentAndExitsWithZero) {
    PlaceStandIn("Client.exe");
    EXPECT_EQ(0u, RunProbe("start"));
    std::vector<std::string> starts = WaitForStarts(1);
    ASSERT_EQ(1u, starts.size());
    const std::string argument = " -xravtemloqs";
    ASSERT_GT(starts[0].size(), argument.size());
    EXPECT_EQ(argument, starts[0].substr(starts[0].size() - argument.size())) << starts[0];
    EXPECT_NE(std::string::npos, starts[0].find("Client.exe")) << starts[0];
}

TEST_F(ClientWin, StartExitsWithZeroWhenTheClientIsMissing) {
    EXPECT_EQ(0u, RunProbe("start"));
    EXPECT_FALSE(fs::exists(folder_ + "\\client_started.txt"));
}

}  // namespace
