// SHA-256 (FIPS 180-4), streaming and of a file; portable, for any thread (the manifest check, the publisher tool).
#pragma once
#include <stddef.h>
#include <stdint.h>

enum { Sha256Size = 32 };

// The two SHA-256 block functions: portable C++, and the x86 SHA extensions. The fastest that the CPU
// has is chosen when the process starts (CPUID); both give identical digests.
enum Sha256Implementation { Sha256Portable, Sha256Extensions };
bool Sha256ExtensionsAvailable();
// Makes later digests use the given implementation; false (and no change) when the CPU lacks it.
bool SelectSha256Implementation(Sha256Implementation implementation);

// Streaming SHA-256 over any number of bytes (64-bit length).
struct Sha256 {
    uint32_t h[8];
    uint64_t length;
    unsigned char block[64];
    size_t used;
};
void Sha256Init(Sha256& state);
void Sha256Update(Sha256& state, const void* data, size_t size);
void Sha256Finish(Sha256& state, uint8_t out[Sha256Size]);

// Digests a file through buffer (DigestReadSize bytes); safe on any thread with its own buffer.
// Returns 0, or the errno value to report, leaving out alone.
int Sha256File(const char* path, uint8_t out[Sha256Size], unsigned char* buffer);
