// The one-step rename of a replaced file, Win32 half; any thread.
#include <windows.h>

// The runtime's rename refuses an existing target; MoveFileEx replaces it in one step.
bool RenameReplacing(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}
