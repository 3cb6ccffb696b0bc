// Stand-in for the game client in the tests: records how it was started, then runs until it is terminated.
#include <windows.h>
#include <stdio.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // One line per start, appended in the current directory, so a test sees every start and its arguments.
    FILE* record = fopen("client_started.txt", "ab");
    if (record) {
        fprintf(record, "%s\n", GetCommandLineA());
        fclose(record);
    }
    for (;;) Sleep(1000);
}
