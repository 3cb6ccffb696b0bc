// A Win32 failure as text for a person; any thread.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "common/system_error.h"

const char* SystemErrorText(unsigned long code, char* buffer, size_t size) {
    char message[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                  message, sizeof message, nullptr);
    // The system's texts end with a line break and often a full stop, which would split the line.
    while (length > 0 && strchr("\r\n .", message[length - 1])) --length;
    message[length] = '\0';
    if (length) snprintf(buffer, size, "%s (error %lu)", message, code);
    else snprintf(buffer, size, "error %lu", code);
    return buffer;
}
