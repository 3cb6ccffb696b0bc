// SHA-256 (FIPS 180-4) with a portable and an x86 SHA-extensions block function; used by any thread that hashes.
#include "updater/trust/sha256.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define SHA256_HAVE_X86 1
#endif

#include "updater/sha1.h"

// The round constants, read four at a time by the SHA-extensions path.
static const uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

static inline uint32_t Rotr(uint32_t value, int bits) {
    return (value >> bits) | (value << (32 - bits));
}

// memcpy and a byte swap compile to one load and bswap (or movbe).
static inline uint32_t LoadBigEndian(const unsigned char* bytes) {
    uint32_t value;
    memcpy(&value, bytes, 4);
    return __builtin_bswap32(value);
}

// The 64 rounds are written out in groups of eight so that the working words rotate by renaming
// instead of by moves, and the message schedule is kept as a ring of 16 words.
#define SHA256_LOAD(t) (w[t] = LoadBigEndian(block + 4 * (t)))
#define SHA256_NEXT(t)                                                                                  \
    (w[(t) & 15] += (Rotr(w[((t) - 2) & 15], 17) ^ Rotr(w[((t) - 2) & 15], 19) ^ (w[((t) - 2) & 15] >> 10)) + \
                    w[((t) - 7) & 15] +                                                                 \
                    (Rotr(w[((t) - 15) & 15], 7) ^ Rotr(w[((t) - 15) & 15], 18) ^ (w[((t) - 15) & 15] >> 3)))
#define SHA256_ROUND(a, b, c, d, e, f, g, h, t, W)                                                          \
    do {                                                                                                    \
        uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + (((f ^ g) & e) ^ g) + K[t] + W(t);      \
        d += t1;                                                                                            \
        h = t1 + (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) | ((a | b) & c));                     \
    } while (0)
#define SHA256_EIGHT(t, W)                                   \
    SHA256_ROUND(a, b, c, d, e, f, g, h, (t) + 0, W);        \
    SHA256_ROUND(h, a, b, c, d, e, f, g, (t) + 1, W);        \
    SHA256_ROUND(g, h, a, b, c, d, e, f, (t) + 2, W);        \
    SHA256_ROUND(f, g, h, a, b, c, d, e, (t) + 3, W);        \
    SHA256_ROUND(e, f, g, h, a, b, c, d, (t) + 4, W);        \
    SHA256_ROUND(d, e, f, g, h, a, b, c, (t) + 5, W);        \
    SHA256_ROUND(c, d, e, f, g, h, a, b, (t) + 6, W);        \
    SHA256_ROUND(b, c, d, e, f, g, h, a, (t) + 7, W)

static void Sha256BlocksPortable(uint32_t* state, const unsigned char* block, size_t blocks) {
    for (; blocks > 0; --blocks, block += 64) {
        uint32_t w[16];
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        SHA256_EIGHT(0, SHA256_LOAD);
        SHA256_EIGHT(8, SHA256_LOAD);
        SHA256_EIGHT(16, SHA256_NEXT);
        SHA256_EIGHT(24, SHA256_NEXT);
        SHA256_EIGHT(32, SHA256_NEXT);
        SHA256_EIGHT(40, SHA256_NEXT);
        SHA256_EIGHT(48, SHA256_NEXT);
        SHA256_EIGHT(56, SHA256_NEXT);
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

#ifdef SHA256_HAVE_X86
// The x86 SHA extensions: sha256rnds2 does two rounds on the state split as ABEF and CDGH, so four
// rounds take two calls, the second on the upper half of the words plus constants.
#define SHA256_X86_LOAD(i) m##i = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(data + 16 * (i))), byteSwap)
#define SHA256_X86_FOUR(i, t)                                                         \
    words = _mm_add_epi32(m##i, _mm_loadu_si128((const __m128i*)(K + (t))));           \
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);                                 \
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(words, 0x0E))
// Finishes the schedule words of group next from those of the two groups before it.
#define SHA256_X86_FINISH(next, before, cur) \
    m##next = _mm_sha256msg2_epu32(_mm_add_epi32(m##next, _mm_alignr_epi8(m##cur, m##before, 4)), m##cur)
// Rounds 12-51: four rounds, finish the next group's words and start those three groups ahead.
#define SHA256_X86_GROUP(cur, before, next, t) \
    SHA256_X86_FOUR(cur, t);                   \
    SHA256_X86_FINISH(next, before, cur);      \
    m##before = _mm_sha256msg1_epu32(m##before, m##cur)

// Only this function is compiled for SHA and SSE4.1, so the rest of the program still runs on any
// i686; it is called only when CPUID reports both. Loads are unaligned, so data may lie anywhere.
__attribute__((target("sha,sse4.1"))) static void Sha256BlocksExtensions(uint32_t* state, const unsigned char* data,
                                                                           size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    // state holds A..H; the instructions want the lanes ABEF and CDGH, highest first.
    __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i*)state), 0xB1);
    __m128i hgfe = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i*)(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(dcba, hgfe, 8);
    __m128i cdgh = _mm_blend_epi16(hgfe, dcba, 0xF0);
    __m128i words, m0, m1, m2, m3;
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        SHA256_X86_LOAD(0);
        SHA256_X86_FOUR(0, 0);
        SHA256_X86_LOAD(1);
        SHA256_X86_FOUR(1, 4);
        m0 = _mm_sha256msg1_epu32(m0, m1);
        SHA256_X86_LOAD(2);
        SHA256_X86_FOUR(2, 8);
        m1 = _mm_sha256msg1_epu32(m1, m2);
        SHA256_X86_LOAD(3);
        SHA256_X86_GROUP(3, 2, 0, 12);
        SHA256_X86_GROUP(0, 3, 1, 16);
        SHA256_X86_GROUP(1, 0, 2, 20);
        SHA256_X86_GROUP(2, 1, 3, 24);
        SHA256_X86_GROUP(3, 2, 0, 28);
        SHA256_X86_GROUP(0, 3, 1, 32);
        SHA256_X86_GROUP(1, 0, 2, 36);
        SHA256_X86_GROUP(2, 1, 3, 40);
        SHA256_X86_GROUP(3, 2, 0, 44);
        SHA256_X86_GROUP(0, 3, 1, 48);
        // Rounds 52-63 start no more words; they finish those already started.
        SHA256_X86_FOUR(1, 52);
        SHA256_X86_FINISH(2, 0, 1);
        SHA256_X86_FOUR(2, 56);
        SHA256_X86_FINISH(3, 1, 2);
        SHA256_X86_FOUR(3, 60);
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128((__m128i*)state, _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128((__m128i*)(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}
#endif

// The CPUID bit for the SHA extensions covers SHA-1 and SHA-256 alike.
bool Sha256ExtensionsAvailable() {
    return Sha1ExtensionsAvailable();
}

typedef void (*Sha256BlocksFunction)(uint32_t* state, const unsigned char* data, size_t blocks);

static Sha256BlocksFunction FastestSha256Blocks() {
#ifdef SHA256_HAVE_X86
    if (Sha256ExtensionsAvailable()) return Sha256BlocksExtensions;
#endif
    return Sha256BlocksPortable;
}

// Chosen before main starts, so every thread reads it without a lock.
static Sha256BlocksFunction Sha256Blocks = FastestSha256Blocks();

bool SelectSha256Implementation(Sha256Implementation implementation) {
    if (implementation == Sha256Portable) {
        Sha256Blocks = Sha256BlocksPortable;
        return true;
    }
#ifdef SHA256_HAVE_X86
    if (Sha256ExtensionsAvailable()) {
        Sha256Blocks = Sha256BlocksExtensions;
        return true;
    }
#endif
    return false;
}

void Sha256Init(Sha256& state) {
    static const uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    memcpy(state.h, initial, sizeof initial);
    state.length = 0;
    state.used = 0;
}

void Sha256Update(Sha256& state, const void* data, size_t size) {
    // A null pointer with no bytes is allowed, and memcpy must not see it.
    if (size == 0) return;
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
        Sha256Blocks(state.h, state.block, 1);
        state.used = 0;
    }
    // Whole blocks are compressed straight from the caller's bytes, without a copy, in one call.
    size_t blocks = size / 64;
    if (blocks > 0) Sha256Blocks(state.h, bytes, blocks);
    bytes += blocks * 64;
    size -= blocks * 64;
    memcpy(state.block, bytes, size);
    state.used = size;
}

void Sha256Finish(Sha256& state, uint8_t out[Sha256Size]) {
    // The length in bits, 64-bit big-endian, so inputs of 2 GiB and more are padded correctly.
    uint64_t bits = state.length * 8;
    state.block[state.used++] = 0x80;
    if (state.used > 56) {
        memset(state.block + state.used, 0, 64 - state.used);
        Sha256Blocks(state.h, state.block, 1);
        state.used = 0;
    }
    memset(state.block + state.used, 0, 56 - state.used);
    for (int i = 0; i < 8; ++i) state.block[56 + i] = (unsigned char)(bits >> (56 - 8 * i));
    Sha256Blocks(state.h, state.block, 1);
    for (int i = 0; i < Sha256Size; ++i) out[i] = (uint8_t)(state.h[i / 4] >> (24 - 8 * (i % 4)));
}

int Sha256File(const char* path, uint8_t out[Sha256Size], unsigned char* buffer) {
    FILE* file = fopen(path, "rb");
    if (!file) return errno ? errno : EIO;
    // Reads go straight into the caller's fixed buffer, as in DigestFile.
    setvbuf(file, nullptr, _IONBF, 0);
    Sha256 state;
    Sha256Init(state);
    size_t got;
    errno = 0;
    while ((got = fread(buffer, 1, DigestReadSize, file)) > 0) Sha256Update(state, buffer, got);
    int error = 0;
    if (ferror(file)) error = errno ? errno : EIO;
    fclose(file);
    if (!error) Sha256Finish(state, out);
    return error;
}
