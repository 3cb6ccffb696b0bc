// SHA-1 file digest; used by the update worker (and the publisher tool), with a helper thread while it checks many files.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <functional>

enum {
    DigestTextSize = 41,  // 40 hexadecimal characters and the terminator
    Sha1Size = 20,        // a SHA-1 digest in bytes
    // Bytes read from a file at a time (one buffer per digesting thread, so memory stays constant).
    // Chosen with tools/bench.py on a cached 1 GiB file: reads of 16 KiB to 4 MiB ran within about
    // 3% of each other (medians of 5 runs), natively and in the 32-bit build under Wine; 64 KiB is
    // as fast as any and keeps the two buffers small.
    DigestReadSize = 64 * 1024,
};

// The latest result of ComputeFileDigest; "-" in the first position when the file could not be read.
extern char DigestText[DigestTextSize];

// The two SHA-1 block functions: portable C++, and the x86 SHA extensions. The fastest that the CPU
// has is chosen when the process starts (CPUID); both give identical digests.
enum Sha1Implementation { Sha1Portable, Sha1Extensions };
bool Sha1ExtensionsAvailable();
// Makes later digests use the given implementation; false (and no change) when the CPU lacks it.
bool SelectSha1Implementation(Sha1Implementation implementation);

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
// Writes the 20 bytes of the digest, in the order of its hexadecimal text.
void Sha1Finish(Sha1& state, unsigned char digest[Sha1Size]);

// Digests a file into text (DigestTextSize bytes) through buffer (DigestReadSize bytes); safe on
// any thread with its own text and buffer. Returns 0, or the errno value to report, leaving text alone.
int DigestFile(const char* fileName, char* text, unsigned char* buffer);

// Digests a file into DigestText. On failure to open or read it writes "-" over the first character
// and returns the errno value to report; returns 0 on success.
int ComputeFileDigest(const char* fileName);

// Digests count files, on the calling thread and one helper thread, and calls report for each
// index from 0 to count - 1 in that order, on the calling thread, with what ComputeFileDigest
// would have given for it had the files been digested one after another: DigestText is updated
// exactly so before each call. Lines logged from report therefore keep the files' order.
void DigestFilesInOrder(int count, const std::function<const char*(int index)>& pathOf,
                        const std::function<void(int index, int error)>& report);
