// The activity log of the publisher tool: the lines the launcher would log while reading a manifest go to standard
// output, marked as the launcher's, or to the tool when it collects them; single-threaded.
#include "tools/publish_log.h"

#include <stdio.h>

#include "common/log.h"

namespace {
std::vector<std::string>* Collected = nullptr;
}

void CollectLauncherLines(std::vector<std::string>* lines) {
    Collected = lines;
}

void LogLine(const char* message) {
    if (Collected) {
        Collected->push_back(message);
    } else {
        printf("launcher: %s\n", message);
    }
}

// The launcher's file-only lines (digest details) have no use to a publisher.
void AppendLogFile(const char*) {}
