// What the signed listing binds one manifest entry to: its SHA-256 and its length; a value, any thread.
#pragma once
#include <stdint.h>

#include "updater/trust/sha256.h"

struct FileFingerprint {
    uint8_t sha256[Sha256Size];
    uint64_t length;
};
