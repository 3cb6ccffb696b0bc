// The one-step rename of a replaced file and the free space of a volume, Win32 half; any thread.
#include <windows.h>

#include <stdint.h>

// The runtime's rename refuses an existing target; MoveFileEx replaces it in one step.
bool RenameReplacing(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool FreeDiskSpace(const char* folder, uint64_t* bytes) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr)) return false;
    *bytes = available.QuadPart;
    return true;
}
