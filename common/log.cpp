// Formatting of activity log file lines; portable, used by whichever thread writes a line.
#include "common/log.h"

#include <stdio.h>
#include <string.h>

char LogMessageBuffer[LogMessageBufferSize];

size_t FormatLogFileLine(const LogTime& time, const char* message, char* line) {
    // The prefix is at most 22 characters for four-digit years; wider values still fit the line.
    int prefix = snprintf(line, LogFileLineSize, "[%4d/%2d/%2d %2d:%2d:%2d] ", time.year, time.month, time.day,
                          time.hour, time.minute, time.second);
    size_t length = prefix < 0 ? 0 : (size_t)prefix;
    if (length > LogFileLineSize - 2) length = LogFileLineSize - 2;
    // Room is kept for the newline and the terminator, so a long message is cut, never the line end.
    size_t room = LogFileLineSize - 2 - length;
    size_t messageLength = strnlen(message, room);
    memcpy(line + length, message, messageLength);
    length += messageLength;
    line[length++] = '\n';
    line[length] = '\0';
    return length;
}
