// A Win32 failure as text for a person: the system's message and its code; any thread.
#pragma once
#include <stddef.h>

// Writes "<the system's message> (error <code>)" into buffer (bounded by size) and returns buffer.
// A code the system has no message for gives "error <code>".
const char* SystemErrorText(unsigned long code, char* buffer, size_t size);
