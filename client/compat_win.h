// Registry half of the compatibility-layer step, separate so that it can be pointed at any key; main thread.
#pragma once
#include <windows.h>

// Writes "~ RUNASADMIN WIN8RTM" (REG_SZ, 21 bytes) under root\subKey, named by the path of Client.exe in
// the folder of modulePath. Returns false, having written nothing, when that path cannot be built or
// the key can be neither opened nor created; nothing is reported either way.
bool WriteCompatibilityLayer(HKEY root, const char* subKey, const char* modulePath);
