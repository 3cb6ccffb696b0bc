// Path of Client.exe beside the launcher; portable half of the compatibility-layer step.
#pragma once
#include <stddef.h>

enum { ClientPathSize = 260 };

// From the launcher's own full path, builds its folder + "\Client.exe" into out (outSize bytes).
// Returns false when modulePath is empty or the result would not fit.
bool BuildClientPath(const char* modulePath, char* out, size_t outSize);
