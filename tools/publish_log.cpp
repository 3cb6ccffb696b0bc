// The activity log of the publisher tool: the lines the launcher would log while reading a manifest
// go to standard output, marked as the launcher's; single-threaded.
#include <stdio.h>

#include "common/log.h"

void LogLine(const char* message) {
    printf("launcher: %s\n", message);
}

// The launcher's file-only lines (digest details) have no use to a publisher.
void AppendLogFile(const char*) {}
