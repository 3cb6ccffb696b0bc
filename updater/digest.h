// SHA-1 file digest; used by the update worker (and the publisher tool).
#pragma once
#include <stddef.h>
#include <stdint.h>

enum { DigestTextSize = 41 };  // 40 hexadecimal characters and the terminator

// The latest result of ComputeFileDigest; "-" in the first position when the file could not be read.
extern char DigestText[DigestTextSize];

// SHA-1 compression of one 64-byte block into the five chaining words.
void Sha1Block(const unsigned char* block, uint32_t& h0, uint32_t& h1, uint32_t& h2, uint32_t& h3, uint32_t& h4);

// Streaming SHA-1 over any number of bytes (64-bit length).
struct Sha1 {
    uint32_t h[5];
    uint64_t length;
    unsigned char block[64];
    size_t used;
};
void Sha1Init(Sha1& state);
void Sha1Update(Sha1& state, const void* data, size_t size);
// Writes 40 lowercase hexadecimal characters and a terminator into text.
void Sha1FinishHex(Sha1& state, char* text);

// Digests a file into DigestText. On failure to open or read it writes "-" over the first character
// and returns the errno value to report; returns 0 on success.
int ComputeFileDigest(const char* fileName);
