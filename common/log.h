// Activity log: every line goes to Launcher_log.txt, timestamped, and to whoever shows the log; used by every thread.
// The portable half formats file lines; the Win32 half (log_win.cpp) keeps the file and the queue of lines to show.
#pragma once
#include <stddef.h>

#include <string>
#include <vector>

enum {
    LogMessageBufferSize = 5000,
    // The file line holds the 22-character prefix, the message, the newline and the terminator.
    LogFileLineSize = 512,
};

// Shared buffer in which callers format a message; used by the main thread until the update
// worker starts, then by the worker alone.
extern char LogMessageBuffer[LogMessageBufferSize];

// Appends the message to the log file and, when a listener is set, queues it for the listener.
// Safe from any thread.
void LogLine(const char* message);
// Appends one timestamped line to Launcher_log.txt only.
void AppendLogFile(const char* message);

// One line of a batch: for the file and the listener, as LogLine logs it, or for the file only, as AppendLogFile.
struct LogBatchLine {
    std::string text;
    bool fileOnly;
};
// Logs lines in their order as LogLine and AppendLogFile would, with the file opened once for all of them: under
// Wine every open is a request to its server, which the transfers in flight wait on too. Safe from any thread.
void LogLines(const std::vector<LogBatchLine>& lines);

// While into is set, the lines the calling thread logs go there instead of the file and the listener (other
// threads log as usual); null ends it. Start-up uses it to ask a list host whose lines are told only if it answers.
void CaptureLogLines(std::vector<std::string>* into);

// Told after a line was queued; queueWasEmpty is true for the first line of a batch. Runs on the
// thread that logged the line, outside the log's lock.
typedef void (*LogListener)(bool queueWasEmpty);
// Lines logged from now on are queued and the listener told; set on the main thread before any
// other thread logs. Without a listener lines reach the file only.
void SetLogListener(LogListener listener);
// Moves every queued line into lines, in the order they were logged (the same as in the file).
void TakeLoggedLines(std::vector<std::string>& lines);

struct LogTime {
    int year, month, day, hour, minute, second;
};

// Builds "[%4d/%2d/%2d %2d:%2d:%2d] " + message + "\n" into line (LogFileLineSize bytes).
// A message too long for the line is cut so that the line still ends with its newline.
// Returns the length of the line.
size_t FormatLogFileLine(const LogTime& time, const char* message, char* line);
