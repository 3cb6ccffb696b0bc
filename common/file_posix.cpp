// The one-step rename of a replaced file and the free space of a volume, POSIX half; any thread.
#include <stdint.h>
#include <stdio.h>
#include <sys/statvfs.h>

// rename replaces an existing target in one step here.
bool RenameReplacing(const char* from, const char* to) {
    return rename(from, to) == 0;
}

bool FreeDiskSpace(const char* folder, uint64_t* bytes) {
    struct statvfs volume;
    if (statvfs(folder, &volume) != 0) return false;
    *bytes = (uint64_t)volume.f_bavail * volume.f_frsize;
    return true;
}
