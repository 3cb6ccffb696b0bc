// The activity log of the publisher tool: the updater's lines go to standard error; single-threaded.
#include <stdio.h>

#include "launcher/log.h"

long LogLineCount;

void LogLine(const char* message) {
    fprintf(stderr, "publish_manifest: %s\n", message);
    ++LogLineCount;
}

// The launcher's file-only lines (digest details) have no use to a publisher.
void AppendLogFile(const char*) {}
