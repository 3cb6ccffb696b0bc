// Test helper that runs one client-control operation in a process of its own: "start" or "stop".
#include <string.h>

#include "client/client.h"

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "start") == 0) StartGameClient();
    if (argc == 2 && strcmp(argv[1], "stop") == 0) {
        StopGameClient();
        return 0;
    }
    return 2;
}
