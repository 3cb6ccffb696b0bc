// Activity log: every line goes to the log list and, timestamped, to Launcher_log.txt; used by both threads.
#pragma once
#include <stddef.h>

enum {
    LogMessageBufferSize = 5000,
    // The file line holds the 22-character prefix, the message, the newline and the terminator.
    LogFileLineSize = 512,
};

// Shared buffer in which callers format a message; used by the main thread until the update
// worker starts, then by the worker alone.
extern char LogMessageBuffer[LogMessageBufferSize];

// Index of the next list line; equals the number of lines in the log list. Changed on the main thread only.
extern long LogLineCount;

// Appends the message to the log file, adds it to the list and selects it. Safe from any thread;
// from a thread other than the list's owner the line reaches the list shortly after, in order.
void LogLine(const char* message);
// Appends one timestamped line to Launcher_log.txt only.
void AppendLogFile(const char* message);

struct LogTime {
    int year, month, day, hour, minute, second;
};

// Builds "[%4d/%2d/%2d %2d:%2d:%2d] " + message + "\n" into line (LogFileLineSize bytes).
// A message too long for the line is cut so that the line still ends with its newline.
// Returns the length of the line.
size_t FormatLogFileLine(const LogTime& time, const char* message, char* line);
