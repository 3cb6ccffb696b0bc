// SHA-1 (FIPS 180-4) and the file digest; used by the update worker, the downloader's check and the publisher tool.
#include "updater/digest.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

char DigestText[DigestTextSize];

static inline uint32_t Rotl(uint32_t value, int bits) {
    return (value << bits) | (value >> (32 - bits));
}

// The 80 steps are written out in groups of five so that the working words rotate by renaming
// instead of by moves, and the message schedule is kept as a ring of 16 words.
#define SHA1_LOAD(t) (w[t] = (uint32_t)block[4 * (t)] << 24 | (uint32_t)block[4 * (t) + 1] << 16 | \
                             (uint32_t)block[4 * (t) + 2] << 8 | (uint32_t)block[4 * (t) + 3])
#define SHA1_NEXT(t) (w[(t) & 15] = Rotl(w[((t) - 3) & 15] ^ w[((t) - 8) & 15] ^ w[((t) - 14) & 15] ^ w[(t) & 15], 1))
#define SHA1_CH(b, c, d) (((c ^ d) & b) ^ d)
#define SHA1_PARITY(b, c, d) (b ^ c ^ d)
#define SHA1_MAJ(b, c, d) ((b & c) | ((b | c) & d))
#define SHA1_STEP(a, b, c, d, e, f, k, word) \
    do {                                      \
        e += Rotl(a, 5) + f(b, c, d) + (k) + (word); \
        b = Rotl(b, 30);                      \
    } while (0)
#define SHA1_FIVE(t, f, k, W)                   \
    SHA1_STEP(a, b, c, d, e, f, k, W((t) + 0)); \
    SHA1_STEP(e, a, b, c, d, f, k, W((t) + 1)); \
    SHA1_STEP(d, e, a, b, c, f, k, W((t) + 2)); \
    SHA1_STEP(c, d, e, a, b, f, k, W((t) + 3)); \
    SHA1_STEP(b, c, d, e, a, f, k, W((t) + 4))

void Sha1Block(const unsigned char* block, uint32_t& h0, uint32_t& h1, uint32_t& h2, uint32_t& h3, uint32_t& h4) {
    uint32_t w[16];
    uint32_t a = h0, b = h1, c = h2, d = h3, e = h4;
    SHA1_FIVE(0, SHA1_CH, 0x5A827999u, SHA1_LOAD);
    SHA1_FIVE(5, SHA1_CH, 0x5A827999u, SHA1_LOAD);
    SHA1_FIVE(10, SHA1_CH, 0x5A827999u, SHA1_LOAD);
    SHA1_STEP(a, b, c, d, e, SHA1_CH, 0x5A827999u, SHA1_LOAD(15));
    SHA1_STEP(e, a, b, c, d, SHA1_CH, 0x5A827999u, SHA1_NEXT(16));
    SHA1_STEP(d, e, a, b, c, SHA1_CH, 0x5A827999u, SHA1_NEXT(17));
    SHA1_STEP(c, d, e, a, b, SHA1_CH, 0x5A827999u, SHA1_NEXT(18));
    SHA1_STEP(b, c, d, e, a, SHA1_CH, 0x5A827999u, SHA1_NEXT(19));
    SHA1_FIVE(20, SHA1_PARITY, 0x6ED9EBA1u, SHA1_NEXT);
    SHA1_FIVE(25, SHA1_PARITY, 0x6ED9EBA1u, SHA1_NEXT);
    SHA1_FIVE(30, SHA1_PARITY, 0x6ED9EBA1u, SHA1_NEXT);
    SHA1_FIVE(35, SHA1_PARITY, 0x6ED9EBA1u, SHA1_NEXT);
    SHA1_FIVE(40, SHA1_MAJ, 0x8F1BBCDCu, SHA1_NEXT);
    SHA1_FIVE(45, SHA1_MAJ, 0x8F1BBCDCu, SHA1_NEXT);
    SHA1_FIVE(50, SHA1_MAJ, 0x8F1BBCDCu, SHA1_NEXT);
    SHA1_FIVE(55, SHA1_MAJ, 0x8F1BBCDCu, SHA1_NEXT);
    SHA1_FIVE(60, SHA1_PARITY, 0xCA62C1D6u, SHA1_NEXT);
    SHA1_FIVE(65, SHA1_PARITY, 0xCA62C1D6u, SHA1_NEXT);
    SHA1_FIVE(70, SHA1_PARITY, 0xCA62C1D6u, SHA1_NEXT);
    SHA1_FIVE(75, SHA1_PARITY, 0xCA62C1D6u, SHA1_NEXT);
    h0 += a;
    h1 += b;
    h2 += c;
    h3 += d;
    h4 += e;
}

void Sha1Init(Sha1& state) {
    state.h[0] = 0x67452301u;
    state.h[1] = 0xEFCDAB89u;
    state.h[2] = 0x98BADCFEu;
    state.h[3] = 0x10325476u;
    state.h[4] = 0xC3D2E1F0u;
    state.length = 0;
    state.used = 0;
}

static void Compress(Sha1& state, const unsigned char* block) {
    Sha1Block(block, state.h[0], state.h[1], state.h[2], state.h[3], state.h[4]);
}

void Sha1Update(Sha1& state, const void* data, size_t size) {
    const unsigned char* bytes = (const unsigned char*)data;
    state.length += size;
    if (state.used > 0) {
        size_t take = 64 - state.used;
        if (take > size) take = size;
        memcpy(state.block + state.used, bytes, take);
        state.used += take;
        bytes += take;
        size -= take;
        if (state.used < 64) return;
        Compress(state, state.block);
        state.used = 0;
    }
    // Whole blocks are compressed straight from the caller's bytes, without a copy.
    while (size >= 64) {
        Compress(state, bytes);
        bytes += 64;
        size -= 64;
    }
    memcpy(state.block, bytes, size);
    state.used = size;
}

void Sha1FinishHex(Sha1& state, char* text) {
    // The length in bits, 64-bit big-endian, so files of 2 GiB and more are padded correctly.
    uint64_t bits = state.length * 8;
    state.block[state.used++] = 0x80;
    if (state.used > 56) {
        memset(state.block + state.used, 0, 64 - state.used);
        Compress(state, state.block);
        state.used = 0;
    }
    memset(state.block + state.used, 0, 56 - state.used);
    for (int i = 0; i < 8; ++i) state.block[56 + i] = (unsigned char)(bits >> (56 - 8 * i));
    Compress(state, state.block);
    snprintf(text, DigestTextSize, "%08x%08x%08x%08x%08x", (unsigned)state.h[0], (unsigned)state.h[1],
             (unsigned)state.h[2], (unsigned)state.h[3], (unsigned)state.h[4]);
}

int ComputeFileDigest(const char* fileName) {
    FILE* file = fopen(fileName, "rb");
    if (!file) {
        int error = errno ? errno : EIO;
        DigestText[0] = '-';
        return error;
    }
    // The stream's own buffer is bypassed: reads go straight into one fixed buffer, so memory
    // use stays constant whatever the file's size.
    setvbuf(file, nullptr, _IONBF, 0);
    // Static, like DigestText: one caller at a time (the update worker, or the publisher tool).
    static unsigned char buffer[64 * 1024];
    Sha1 state;
    Sha1Init(state);
    size_t got;
    errno = 0;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) Sha1Update(state, buffer, got);
    int error = 0;
    if (ferror(file)) error = errno ? errno : EIO;
    fclose(file);
    if (error) {
        DigestText[0] = '-';
        return error;
    }
    Sha1FinishHex(state, DigestText);
    return 0;
}
