// The one-step rename of a replaced file, POSIX half; any thread.
#include <stdio.h>

// rename replaces an existing target in one step here.
bool RenameReplacing(const char* from, const char* to) {
    return rename(from, to) == 0;
}
