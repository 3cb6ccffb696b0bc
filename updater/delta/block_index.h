// Block indexes for delta updates: the publisher writes them, the update worker reads one, scans the old local
// file against it and rebuilds the new file from local blocks and fetched byte ranges. Portable; no state.
//
// Naming. The index of a listed file PATH with digest D (40 lowercase hexadecimal characters, as listed in
// update.cfg) is the static file "PATH.D.blocks" beside it on the update server. A launcher finds it from the
// manifest line alone; a new digest means a new name, so a cache can never pair an old index with a new file.
// The publisher refuses game files whose names end in ".<40 hex>.blocks", so no game file can clash with one,
// and it never lists index files in update.cfg, whose format does not change: older launchers ignore them.
// The name is accepted by IsSafeManifestPath whenever PATH is.
//
// Format (binary, every number little-endian; 40-byte header, then 4 + S bytes per block):
//   offset  size  field
//   0       4     "QVBI"
//   4       1     format version, 2 (version 1 is read too: S is 4 there and byte 6 is zero)
//   5       1     log2 of the block size, 10 to 24 (1 KiB to 16 MiB)
//   6       1     S, the size of a strong sum in bytes, 3 or 4
//   7       1     zero
//   8       8     length of the whole file in bytes
//   16      20    SHA-1 digest of the whole file
//   36      4     block count: length / block size, rounded up (0 for an empty file)
//   40      (4+S)*N  per block: 4 bytes weak sum, then S bytes strong sum
// Every block is block-size bytes long except the last, which holds what remains (1 to block-size bytes).
// Weak sum: a = sum of the bytes, b = sum of (n - i) * byte[i] over the block's n bytes, both modulo 2^16;
// weak = a + b * 2^16. It rolls: moving the window one byte costs a few additions.
// Strong sum: the first S bytes of the block's SHA-1, read big-endian. They only confirm a weak match at one
// offset, so a false match is rare, and the whole-file SHA-1 that the launcher checks after rebuilding
// catches it; the rebuilt file is then downloaded whole. The scan tries every offset only where the old
// file differs (it skips a block at each match), and at each such offset a false match has a chance of
// (blocks / 2^32) * 2^-(8 S). The writer uses S = 3 up to 256 MiB: even a 256 MB file with nothing in common
// then falls back once in about 4000 updates, and the index is an eighth smaller than with S = 4, which it
// uses for larger files.
//
// Block size: 4 KiB for files up to 256 MiB, then doubled for every doubling of the file, so a file never
// has more than 65536 blocks and its index never exceeds 512 KiB + 40 bytes (4 GiB: 64 KiB blocks). Small
// blocks fetch little around a small change; beyond 256 MiB the index's own download, and the launcher's
// table of it, would outgrow what a small change saves. A reader accepts up to 131072 blocks of any size
// in the range, so the rule may change without breaking older launchers.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "updater/sha1.h"

enum {
    BlockIndexHeaderSize = 40,
    BlockIndexWeakSize = 4,
    MaxStrongSumSize = 4,
    MaxBlockIndexEntrySize = BlockIndexWeakSize + MaxStrongSumSize,
    SmallestBlockShift = 10,
    LargestBlockShift = 24,
    ChosenBlockShift = 12,        // 4 KiB: the block size of files up to 256 MiB
    MaxChosenBlocks = 65536,      // the writer's limit, which sets its block size
    MaxIndexBlocks = 131072,      // the reader's limit
    MaxBlockIndexBytes = BlockIndexHeaderSize + MaxBlockIndexEntrySize * MaxIndexBlocks,
    DefaultBlockIndexMinBytes = 1024 * 1024,  // the publisher indexes files of at least this size
};

struct BlockSum {
    uint32_t weak;
    uint32_t strong;  // the strong sum's first strongBytes bytes of StrongSum, as a number
};

struct BlockIndex {
    uint64_t fileLength = 0;
    unsigned char fileSha1[Sha1Size] = {};
    uint32_t blockSize = 0;
    int strongBytes = MaxStrongSumSize;
    std::vector<BlockSum> blocks;
};

// A byte range of the new file, [offset, offset + length).
struct ByteRange {
    uint64_t offset;
    uint64_t length;
};

// The plan gives, per block of the new file, the offset in the local file to copy it from, or FetchBlock.
const uint64_t FetchBlock = UINT64_MAX;
typedef std::vector<uint64_t> BlockPlan;

// Reads up to size bytes from the current position; 0 at the end or on an error (the scan then stops, and
// what it found so far is still right).
typedef size_t (*ReadNextFunction)(void* context, void* buffer, size_t size);
// Reads exactly size bytes at offset; false when it cannot.
typedef bool (*ReadAtFunction)(void* context, uint64_t offset, void* buffer, size_t size);
// Appends size bytes to the output; false when it cannot.
typedef bool (*WriteFunction)(void* context, const void* data, size_t size);

// The same, for a FILE* opened in binary mode as the context (offsets past 2 GiB included).
size_t FileReadNext(void* file, void* buffer, size_t size);
bool FileSeek(void* file, uint64_t offset);
bool FileReadAt(void* file, uint64_t offset, void* buffer, size_t size);
bool FileWrite(void* file, const void* data, size_t size);

// The block size the writer uses for a file of this length.
uint32_t BlockSizeFor(uint64_t length);

// The size of a strong sum the writer uses for a file of this length.
int StrongSumSizeFor(uint64_t length);

// The weak sum of size bytes, and their strong sum cut to strongBytes bytes (see the format above).
uint32_t WeakSum(const unsigned char* data, size_t size);
uint32_t StrongSum(const unsigned char* data, size_t size, int strongBytes = MaxStrongSumSize);

// The index's file name for a manifest path and its listed digest; false when it does not fit in size bytes
// or the digest is not 40 hexadecimal characters (the name always uses lowercase).
bool MakeBlockIndexPath(const char* path, const char* digest, char* name, size_t size);
// True when the last component of path has the form of an index file name ("NAME.<40 hex>.blocks").
bool IsBlockIndexPath(const std::string& path);

// Reads a file of length bytes through read and makes its index. Returns 0, or EIO when the read ended
// before or after length bytes (a read error, or a file that changed while it was read).
int MakeBlockIndex(ReadNextFunction read, void* context, uint64_t length, BlockIndex* index);
std::string EncodeBlockIndex(const BlockIndex& index);

// Decodes and checks an index: its size (at most MaxBlockIndexBytes), header, block size, and a block
// count that matches the length and block size. With expectedDigest (40 hexadecimal characters, either
// case) the index must also name that whole-file digest. Returns null, or what is wrong with it.
const char* ReadBlockIndex(const void* data, size_t size, const char* expectedDigest, BlockIndex* index);

// Scans the old local file, read once from start to end, for every block of the index. A block counts as
// present where its weak and strong sums both match; after a match the scan goes on after the matched
// bytes, since the next block of the new file most often follows. Memory: a read buffer of one block plus
// 1 MiB (or two blocks, if larger) and a table of about 20 bytes per index block, whatever the file's size.
// Returns the plan; with every block present it stops reading.
// With start and stop, only windows that begin in [start, stop) are tried, and read must deliver the file
// from start on: parts of one file can be scanned side by side, and MergePlans joins their plans.
BlockPlan ScanLocalFile(const BlockIndex& index, ReadNextFunction read, void* context, uint64_t start = 0,
                        uint64_t stop = UINT64_MAX);
// Takes the blocks that plan lacks from the plan of a later part of the local file.
void MergePlans(BlockPlan& plan, const BlockPlan& later);
// Scans the local file at path, length bytes, open as local, for the blocks of index: in two halves side by
// side, each with a file of its own, from ParallelScanMinBytes on (below, starting the second thread costs
// about what it saves). The first half's blocks come first, as in one scan from the start.
const uint64_t ParallelScanMinBytes = 1024 * 1024;
BlockPlan ScanLocalFileInHalves(const BlockIndex& index, const char* path, FILE* local, uint64_t length);

// The byte ranges to fetch: runs of consecutive fetch blocks joined into one range; ranges that lie at most
// joinGap bytes apart are joined too (fewer requests for a few more bytes). In file order.
std::vector<ByteRange> FetchRanges(const BlockIndex& index, const BlockPlan& plan, uint64_t joinGap = 0);
uint64_t TotalLength(const std::vector<ByteRange>& ranges);

// Where a byte of the new file lies when the fetched ranges are stored one after another in order (as
// one staging file): false when offset lies in none of them.
bool OffsetInFetched(const std::vector<ByteRange>& ranges, uint64_t offset, uint64_t* stored);

struct BlockBuildIo {
    void* context;
    ReadAtFunction readLocal;    // the old local file
    ReadAtFunction readFetched;  // bytes of the new file at an offset inside a fetched range
    WriteFunction write;         // the new file, written from start to end
};

// Writes the new file through io.write: every block from the local file or the fetched bytes as the plan
// says, exactly index.fileLength bytes in order and nothing else. The SHA-1 of what was written goes to
// digest (DigestTextSize bytes); the caller compares it with the listed digest, since a lying index or a
// false match yields a different file. Returns null, or what failed (nothing more is written then).
const char* BuildFromPlan(const BlockIndex& index, const BlockPlan& plan, const BlockBuildIo& io, char* digest);
