// LogLine, and LogLines in batches, from the main thread and two workers at once, also under a foreign
// process's flood: every line whole and once, in order.
#include <windows.h>
#include <direct.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "common/log.h"
#include "launcher/window.h"
#include "tests/temp_folder.h"

HWND LogList;

namespace {

// Log messages that carry parameters: only another process sends those.
long ForeignMessages;

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP_LOGLINE && (wParam || lParam)) ++ForeignMessages;
    if (message == WM_APP_LOGLINE) return HandleLogLineMessage();
    return DefWindowProcA(window, message, wParam, lParam);
}

struct Worker {
    const char* name;
    int lines;
    int batch;  // 0: a LogLine each; else LogLines of this many, each batch with a line for the file only after them
};

const char FileOnlyMark[] = "for the file only: ";

DWORD WINAPI LogFromWorker(void* parameter) {
    const Worker* worker = (const Worker*)parameter;
    char message[64];
    std::vector<LogBatchLine> batch;
    for (int i = 0; i < worker->lines; ++i) {
        snprintf(message, sizeof message, "%s line %d", worker->name, i);
        if (!worker->batch) {
            LogLine(message);
            continue;
        }
        batch.push_back({message, false});
        if ((int)batch.size() == worker->batch || i + 1 == worker->lines) {
            batch.push_back({std::string(FileOnlyMark) + message, true});
            LogLines(batch);
            batch.clear();
        }
    }
    return 0;
}

class ActivityLog : public InTempFolder {
protected:
    void SetUp() override {
        InTempFolder::SetUp();

        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = OwnerProc;
        windowClass.hInstance = GetModuleHandleA(NULL);
        windowClass.lpszClassName = "LogOwnerTest";
        RegisterClassA(&windowClass);
        owner = CreateWindowA("LogOwnerTest", "", WS_OVERLAPPEDWINDOW, 0, 0, 300, 300, NULL, NULL, NULL, NULL);
        LogList = CreateWindowA("ListBox", NULL, WS_CHILD | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT, 0, 0, 200, 200, owner,
                                (HMENU)101, NULL, NULL);
        ASSERT_TRUE(LogList);
        LogLineCount = 0;
        InitActivityLog();
    }

    void TearDown() override {
        DestroyWindow(owner);
        InTempFolder::TearDown();
    }

    std::vector<std::string> ListLines() {
        std::vector<std::string> lines;
        int count = (int)SendMessageA(LogList, LB_GETCOUNT, 0, 0);
        for (int i = 0; i < count; ++i) {
            std::string text((size_t)SendMessageA(LogList, LB_GETTEXTLEN, i, 0) + 1, '\0');
            SendMessageA(LogList, LB_GETTEXT, i, (LPARAM)&text[0]);
            text.resize(strlen(text.c_str()));
            lines.push_back(text);
        }
        return lines;
    }

    std::vector<std::string> FileLines() {
        std::ifstream file("Launcher_log.txt", std::ios::binary);
        std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = all.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(all.substr(start, end - start));
        EXPECT_EQ(all.size(), start) << "the file ends inside a line";
        return lines;
    }

    void LogFromThreeThreadsAndCheck();

    HWND owner = NULL;
};

// Lines of one thread must appear once each and in the order the thread logged them.
void ExpectEachThreadInOrder(const std::vector<std::string>& lines, const std::map<std::string, int>& expected,
                             const char* where) {
    std::map<std::string, int> next;
    for (const std::string& line : lines) {
        size_t space = line.find(" line ");
        ASSERT_NE(std::string::npos, space) << where << ": torn line \"" << line << "\"";
        std::string name = line.substr(0, space);
        int index = atoi(line.c_str() + space + 6);
        ASSERT_EQ(next[name], index) << where << ": " << name << " out of order or repeated";
        next[name] = index + 1;
    }
    EXPECT_EQ(expected, next) << where;
}

// Logs 1500 lines from the main thread and from each of two workers at once, while the main thread
// keeps handling messages as the message loop does; then checks the list and the file.
void ActivityLog::LogFromThreeThreadsAndCheck() {
    Worker workers[] = {{"worker-a", 1500, 0}, {"worker-b", 1500, 7}};
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i) threads[i] = CreateThread(NULL, 0, LogFromWorker, &workers[i], 0, NULL);

    int mainLines = 0;
    char message[64];
    while (WaitForMultipleObjects(2, threads, TRUE, 0) == WAIT_TIMEOUT) {
        if (mainLines < 1500) {
            snprintf(message, sizeof message, "main line %d", mainLines++);
            LogLine(message);
        }
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        if (mainLines >= 1500) MsgWaitForMultipleObjects(2, threads, TRUE, 10, QS_ALLINPUT);
    }
    for (HANDLE thread : threads) CloseHandle(thread);

    std::map<std::string, int> expected{{"main", mainLines}, {"worker-a", 1500}, {"worker-b", 1500}};
    std::vector<std::string> list = ListLines();
    EXPECT_EQ((long)list.size(), LogLineCount);
    EXPECT_EQ((LRESULT)list.size() - 1, SendMessageA(LogList, LB_GETCURSEL, 0, 0));
    ExpectEachThreadInOrder(list, expected, "list");

    std::regex prefix(R"(^\[\d{4}/[ \d]\d/[ \d]\d [ \d]\d:[ \d]\d:[ \d]\d\] )");
    std::vector<std::string> file;
    int fileOnly = 0;
    for (std::string& line : FileLines()) {
        ASSERT_TRUE(std::regex_search(line, prefix)) << line;
        line.erase(0, 22);
        // Worker-b's batches end with a line for the file alone, right after the batch's last line.
        if (line.compare(0, sizeof FileOnlyMark - 1, FileOnlyMark) == 0) {
            ASSERT_FALSE(file.empty());
            EXPECT_EQ(file.back(), line.substr(sizeof FileOnlyMark - 1));
            ++fileOnly;
            continue;
        }
        file.push_back(line);
    }
    EXPECT_EQ((1500 + 6) / 7, fileOnly);
    ASSERT_EQ(list.size(), file.size());
    ExpectEachThreadInOrder(file, expected, "file");
    // The list and the file receive the lines in the same order.
    EXPECT_EQ(list, file);
}

TEST_F(ActivityLog, LinesFromThreeThreadsArriveWholeOnceAndInOrder) {
    LogFromThreeThreadsAndCheck();
}

// Another process floods the owner with the log message, with any parameters (driver.exe flood),
// while three threads log: nothing crashes, no foreign line appears, every own line appears once.
TEST_F(ActivityLog, ForeignLogMessagesNeitherCrashNorAddLines) {
    // Visible, so the lines are painted in batches as in the launcher.
    ShowWindow(owner, SW_SHOWNOACTIVATE);
    ShowWindow(LogList, SW_SHOWNA);
    char driver[MAX_PATH];
    GetModuleFileNameA(NULL, driver, sizeof driver);
    strcpy(strrchr(driver, '\\') + 1, "driver.exe");
    char command[MAX_PATH + 64];
    snprintf(command, sizeof command, "\"%s\" --class LogOwnerTest --timeout 20 flood 60", driver);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) << command;
    CloseHandle(process.hThread);
    // The threads start logging once the flood has begun.
    ForeignMessages = 0;
    while (ForeignMessages < 100 && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 10, QS_ALLINPUT);
    }
    ASSERT_GE(ForeignMessages, 100) << "driver.exe sent no messages";
    LogFromThreeThreadsAndCheck();
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process.hProcess, 0)) << "the flood ended before the threads did";
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    // A last round of messages: the paint timer ends the burst.
    for (DWORD until = GetTickCount() + 300; GetTickCount() < until;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(10);
    }
    int count = (int)LogLineCount;
    // After the burst the last line is selected and scrolled into view.
    EXPECT_EQ(count - 1, SendMessageA(LogList, LB_GETCURSEL, 0, 0));
    RECT client;
    GetClientRect(LogList, &client);
    int rows = client.bottom / (int)SendMessageA(LogList, LB_GETITEMHEIGHT, 0, 0);
    int top = (int)SendMessageA(LogList, LB_GETTOPINDEX, 0, 0);
    EXPECT_TRUE(top < count && count <= top + rows) << "top " << top << ", rows " << rows;
}

TEST_F(ActivityLog, LockedFileLeavesTheListWorking) {
    LogLine("first");
    // Another program holding the file without sharing it, so the launcher cannot open it.
    HANDLE lock = CreateFileA("Launcher_log.txt", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    LogLine("second");
    LogLine("");
    CloseHandle(lock);
    EXPECT_EQ(3, LogLineCount);
    EXPECT_EQ((std::vector<std::string>{"first", "second", ""}), ListLines());
    EXPECT_EQ(2, SendMessageA(LogList, LB_GETCURSEL, 0, 0));
    std::vector<std::string> file = FileLines();
    ASSERT_EQ(1u, file.size());
    EXPECT_EQ("first", file[0].substr(22));
}

}  // namespace
