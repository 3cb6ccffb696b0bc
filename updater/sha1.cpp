// SHA-1 (FIPS 180-4) and the file digest; used by the update worker and its helper thread, the downloader's check and the publisher tool.
#include "updater/sha1.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <functional>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define SHA1_HAVE_X86 1
#endif

#include "updater/helper_thread.h"

char DigestText[DigestTextSize];

static inline uint32_t Rotl(uint32_t value, int bits) {
    return (value << bits) | (value >> (32 - bits));
}

// memcpy and a byte swap compile to one load and bswap (or movbe).
static inline uint32_t LoadBigEndian(const unsigned char* bytes) {
    uint32_t value;
    memcpy(&value, bytes, 4);
    return __builtin_bswap32(value);
}

// The 80 steps are written out in groups of five so that the working words rotate by renaming
// instead of by moves, and the message schedule is kept as a ring of 16 words.
#define SHA1_LOAD(t) (w[t] = LoadBigEndian(block + 4 * (t)))
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

static inline void Sha1OneBlock(uint32_t* h, const unsigned char* block) {
    uint32_t w[16];
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
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
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
}

static void Sha1BlocksPortable(uint32_t* h, const unsigned char* data, size_t blocks) {
    for (; blocks > 0; --blocks, data += 64) Sha1OneBlock(h, data);
}

#ifdef SHA1_HAVE_X86
// The x86 SHA extensions: four rounds per instruction, the state kept in two vector registers for
// all blocks. Only this function is compiled for SHA and SSE4.1, so the rest of the program still
// runs on any i686; it is called only when CPUID reports both.
#define SHA1_X86_LOAD(m, i) m = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(data + 16 * (i))), byteSwap)
// Four rounds with the words of m; e is the fifth word derived for these rounds, other takes the
// working words for the four rounds after them.
#define SHA1_X86_ROUNDS(e, other, m, f) \
    e = _mm_sha1nexte_epu32(e, m);      \
    other = abcd;                       \
    abcd = _mm_sha1rnds4_epu32(abcd, e, f)
// From rounds 12-15 on, each group of four rounds also finishes the next group's words (sha1msg2)
// and starts those of the groups two and three ahead (xor, sha1msg1).
#define SHA1_X86_GROUP(e, other, cur, next, third, fourth, f) \
    m##next = _mm_sha1msg2_epu32(m##next, m##cur);            \
    SHA1_X86_ROUNDS(e, other, m##cur, f);                     \
    m##fourth = _mm_sha1msg1_epu32(m##fourth, m##cur);        \
    m##third = _mm_xor_si128(m##third, m##cur)

__attribute__((target("sha,sse4.1"))) static void Sha1BlocksExtensions(uint32_t* h, const unsigned char* data,
                                                                         size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i*)h), 0x1B);
    __m128i e0 = _mm_set_epi32((int)h[4], 0, 0, 0);
    __m128i e1, m0, m1, m2, m3;
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abcdBefore = abcd, eBefore = e0;
        // Rounds 0-15 load the block; each group then advances the schedule for the groups after it.
        SHA1_X86_LOAD(m0, 0);
        e0 = _mm_add_epi32(e0, m0);
        e1 = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
        SHA1_X86_LOAD(m1, 1);
        SHA1_X86_ROUNDS(e1, e0, m1, 0);
        m0 = _mm_sha1msg1_epu32(m0, m1);
        SHA1_X86_LOAD(m2, 2);
        SHA1_X86_ROUNDS(e0, e1, m2, 0);
        m1 = _mm_sha1msg1_epu32(m1, m2);
        m0 = _mm_xor_si128(m0, m2);
        SHA1_X86_LOAD(m3, 3);
        SHA1_X86_GROUP(e1, e0, 3, 0, 1, 2, 0);  // rounds 12-15
        SHA1_X86_GROUP(e0, e1, 0, 1, 2, 3, 0);
        SHA1_X86_GROUP(e1, e0, 1, 2, 3, 0, 1);
        SHA1_X86_GROUP(e0, e1, 2, 3, 0, 1, 1);
        SHA1_X86_GROUP(e1, e0, 3, 0, 1, 2, 1);
        SHA1_X86_GROUP(e0, e1, 0, 1, 2, 3, 1);
        SHA1_X86_GROUP(e1, e0, 1, 2, 3, 0, 1);  // rounds 36-39
        SHA1_X86_GROUP(e0, e1, 2, 3, 0, 1, 2);
        SHA1_X86_GROUP(e1, e0, 3, 0, 1, 2, 2);
        SHA1_X86_GROUP(e0, e1, 0, 1, 2, 3, 2);
        SHA1_X86_GROUP(e1, e0, 1, 2, 3, 0, 2);
        SHA1_X86_GROUP(e0, e1, 2, 3, 0, 1, 2);  // rounds 56-59
        SHA1_X86_GROUP(e1, e0, 3, 0, 1, 2, 3);
        SHA1_X86_GROUP(e0, e1, 0, 1, 2, 3, 3);  // rounds 64-67
        // Rounds 68-79 start no more words; they finish those already started.
        m2 = _mm_sha1msg2_epu32(m2, m1);
        SHA1_X86_ROUNDS(e1, e0, m1, 3);
        m3 = _mm_xor_si128(m3, m1);
        m3 = _mm_sha1msg2_epu32(m3, m2);
        SHA1_X86_ROUNDS(e0, e1, m2, 3);
        SHA1_X86_ROUNDS(e1, e0, m3, 3);
        e0 = _mm_sha1nexte_epu32(e0, eBefore);
        abcd = _mm_add_epi32(abcd, abcdBefore);
    }
    _mm_storeu_si128((__m128i*)h, _mm_shuffle_epi32(abcd, 0x1B));
    h[4] = (uint32_t)_mm_extract_epi32(e0, 3);
}

bool Sha1ExtensionsAvailable() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSE4_1) || !(c & bit_SSSE3)) return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (b & bit_SHA) != 0;
}
#else
bool Sha1ExtensionsAvailable() {
    return false;
}
#endif

typedef void (*Sha1BlocksFunction)(uint32_t* h, const unsigned char* data, size_t blocks);

static Sha1BlocksFunction FastestSha1Blocks() {
#ifdef SHA1_HAVE_X86
    if (Sha1ExtensionsAvailable()) return Sha1BlocksExtensions;
#endif
    return Sha1BlocksPortable;
}

// Chosen before main starts, so every thread reads it without a lock.
static Sha1BlocksFunction Sha1Blocks = FastestSha1Blocks();

bool SelectSha1Implementation(Sha1Implementation implementation) {
    if (implementation == Sha1Portable) {
        Sha1Blocks = Sha1BlocksPortable;
        return true;
    }
#ifdef SHA1_HAVE_X86
    if (Sha1ExtensionsAvailable()) {
        Sha1Blocks = Sha1BlocksExtensions;
        return true;
    }
#endif
    return false;
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
        Sha1Blocks(state.h, state.block, 1);
        state.used = 0;
    }
    // Whole blocks are compressed straight from the caller's bytes, without a copy, in one call.
    size_t blocks = size / 64;
    if (blocks > 0) Sha1Blocks(state.h, bytes, blocks);
    bytes += blocks * 64;
    size -= blocks * 64;
    memcpy(state.block, bytes, size);
    state.used = size;
}

// Pads the message and compresses the last block(s); the digest is then in state.h.
static void Sha1Pad(Sha1& state) {
    // The length in bits, 64-bit big-endian, so files of 2 GiB and more are padded correctly.
    uint64_t bits = state.length * 8;
    state.block[state.used++] = 0x80;
    if (state.used > 56) {
        memset(state.block + state.used, 0, 64 - state.used);
        Sha1Blocks(state.h, state.block, 1);
        state.used = 0;
    }
    memset(state.block + state.used, 0, 56 - state.used);
    for (int i = 0; i < 8; ++i) state.block[56 + i] = (unsigned char)(bits >> (56 - 8 * i));
    Sha1Blocks(state.h, state.block, 1);
}

void Sha1Finish(Sha1& state, unsigned char digest[Sha1Size]) {
    Sha1Pad(state);
    for (int i = 0; i < Sha1Size; ++i) digest[i] = (unsigned char)(state.h[i / 4] >> (24 - 8 * (i % 4)));
}

void Sha1FinishHex(Sha1& state, char* text) {
    Sha1Pad(state);
    snprintf(text, DigestTextSize, "%08x%08x%08x%08x%08x", (unsigned)state.h[0], (unsigned)state.h[1],
             (unsigned)state.h[2], (unsigned)state.h[3], (unsigned)state.h[4]);
}

int DigestFile(const char* fileName, char* text, unsigned char* buffer) {
    FILE* file = fopen(fileName, "rb");
    if (!file) return errno ? errno : EIO;
    // The stream's own buffer is bypassed: reads go straight into the caller's fixed buffer, so
    // memory use stays constant whatever the file's size.
    setvbuf(file, nullptr, _IONBF, 0);
    Sha1 state;
    Sha1Init(state);
    size_t got;
    errno = 0;
    while ((got = fread(buffer, 1, DigestReadSize, file)) > 0) Sha1Update(state, buffer, got);
    int error = 0;
    if (ferror(file)) error = errno ? errno : EIO;
    fclose(file);
    if (!error) Sha1FinishHex(state, text);
    return error;
}

// One read buffer per digesting thread. Static, like DigestText: one caller at a time (the update
// worker with its helper, or the publisher tool).
static unsigned char CallerBuffer[DigestReadSize];
static unsigned char HelperBuffer[DigestReadSize];

int ComputeFileDigest(const char* fileName) {
    int error = DigestFile(fileName, DigestText, CallerBuffer);
    if (error) DigestText[0] = '-';
    return error;
}

namespace {

struct FileResult {
    char text[DigestTextSize];
    int error;
    std::atomic<bool> done;
};

// Shared by the calling thread and the helper: both take the next undigested index from next.
struct DigestBatch {
    int count;
    const std::function<const char*(int index)>* pathOf;
    FileResult* results;
    std::atomic<int> next;
};

// Digests the next unclaimed file; false once every file has been claimed.
bool DigestNext(DigestBatch& batch, unsigned char* buffer) {
    int index = batch.next.fetch_add(1);
    if (index >= batch.count) return false;
    FileResult& result = batch.results[index];
    result.error = DigestFile((*batch.pathOf)(index), result.text, buffer);
    result.done.store(true, std::memory_order_release);
    return true;
}

void HelperMain(void* argument) {
    DigestBatch& batch = *(DigestBatch*)argument;
    while (DigestNext(batch, HelperBuffer)) {
    }
}

// Reports every finished file from index reported on, in order, as ComputeFileDigest would have left DigestText.
int ReportFinished(DigestBatch& batch, int reported, const std::function<void(int index, int error)>& report) {
    for (; reported < batch.count && batch.results[reported].done.load(std::memory_order_acquire); ++reported) {
        const FileResult& result = batch.results[reported];
        if (result.error) {
            DigestText[0] = '-';
        } else {
            memcpy(DigestText, result.text, DigestTextSize);
        }
        report(reported, result.error);
    }
    return reported;
}

}  // namespace

void DigestFilesInOrder(int count, const std::function<const char*(int index)>& pathOf,
                        const std::function<void(int index, int error)>& report) {
    if (count <= 0) return;
    DigestBatch batch;
    batch.count = count;
    batch.pathOf = &pathOf;
    batch.results = new FileResult[count];
    for (int i = 0; i < count; ++i) batch.results[i].done.store(false);
    batch.next.store(0);
    // A single file gains nothing from a second thread; without a helper this thread digests all.
    HelperThread* helper = count > 1 ? StartHelperThread(HelperMain, &batch) : nullptr;
    int reported = 0;
    while (DigestNext(batch, CallerBuffer)) reported = ReportFinished(batch, reported, report);
    if (helper) JoinHelperThread(helper);
    ReportFinished(batch, reported, report);
    delete[] batch.results;
}
