// Block indexes for delta updates: writer, bounded reader, rolling scan and rebuild; portable, used by the
// publisher tool and the update worker.
#include "updater/delta/block_index.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "common/text.h"
#include "updater/helper_thread.h"

namespace {

const char Magic[4] = {'Q', 'V', 'B', 'I'};
const unsigned char FormatVersion = 2, FirstFormatVersion = 1;
const char IndexSuffix[] = ".blocks";
const size_t BuildChunk = 256 * 1024;  // the rebuild reads and writes up to this much at once
const size_t ScanReadSize = 1 << 20;   // the scan reads this much at once: few reads, each a system call

uint32_t Load32(const unsigned char* p) {
    return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

void Store32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out += (char)(value >> (8 * i));
}

uint64_t BlockCountFor(uint64_t length, uint32_t blockSize) {
    return length / blockSize + (length % blockSize != 0);
}

uint32_t LastBlockLength(const BlockIndex& index) {
    uint64_t rest = index.fileLength % index.blockSize;
    return rest ? (uint32_t)rest : index.blockSize;
}

uint32_t BlockLength(const BlockIndex& index, size_t block) {
    return block + 1 == index.blocks.size() ? LastBlockLength(index) : index.blockSize;
}

// The weak sum of a window as its two halves, so it can roll.
struct RollingSum {
    uint32_t a = 0, b = 0;
    // Sums size bytes, four at a time (b += a after each byte, unrolled, so the additions can overlap). With
    // prefix, the sums of the first prefixSize bytes go there too, in the same pass.
    void Start(const unsigned char* data, size_t size, RollingSum* prefix = nullptr, size_t prefixSize = 0) {
        a = b = 0;
        size_t i = 0;
        for (size_t stop = prefix ? prefixSize : size;; stop = size) {
            for (; i + 4 <= stop; i += 4) {
                const uint32_t x0 = data[i], x1 = data[i + 1], x2 = data[i + 2], x3 = data[i + 3];
                b += 4 * a + 4 * x0 + 3 * x1 + 2 * x2 + x3;
                a += x0 + x1 + x2 + x3;
            }
            for (; i < stop; ++i) {
                a += data[i];
                b += a;
            }
            if (stop == size) break;
            *prefix = *this;
        }
    }
    // Moves a window of size bytes one byte on: out leaves it, in enters it.
    void Roll(unsigned char out, unsigned char in, uint32_t size) {
        a += in - (uint32_t)out;
        b += a - size * (uint32_t)out;
    }
    uint32_t Value() const { return (a & 0xFFFF) | b << 16; }
};

// The index's full-size blocks, grouped by content: one entry per distinct (weak, strong) pair, sorted,
// with its blocks chained through sameNext. A bit filter on the weak sum turns most positions away at once.
class BlockTable {
public:
    explicit BlockTable(const BlockIndex& index, size_t blocks) : sameNext_(blocks, NoBlock) {
        std::vector<uint32_t> order(blocks);
        for (size_t i = 0; i < blocks; ++i) order[i] = (uint32_t)i;
        std::sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
            const BlockSum &p = index.blocks[x], &q = index.blocks[y];
            return p.weak != q.weak ? p.weak < q.weak : p.strong != q.strong ? p.strong < q.strong : x < y;
        });
        for (size_t i = 0; i < blocks; ++i) {
            const BlockSum& sum = index.blocks[order[i]];
            if (!entries_.empty() && entries_.back().weak == sum.weak && entries_.back().strong == sum.strong) {
                sameNext_[order[i - 1]] = order[i];
                continue;
            }
            entries_.push_back({sum.weak, sum.strong, order[i]});
        }
        filterShift_ = 31;
        while (filterShift_ > 6 && (1u << (32 - filterShift_)) < 16 * entries_.size()) --filterShift_;
        filter_.assign(((size_t)1 << (32 - filterShift_)) / 32 + 1, 0);
        for (const Entry& entry : entries_) {
            uint32_t bit = Mix(entry.weak);
            filter_[bit / 32] |= 1u << (bit % 32);
        }
    }

    // False when no block has this weak sum; true when one may have it.
    bool MayHold(uint32_t weak) const {
        uint32_t bit = Mix(weak);
        return filter_[bit / 32] >> (bit % 32) & 1;
    }

    // The first still unplaced entry of a weak sum, or -1: the caller computes the strong sum only then.
    long FindWeak(uint32_t weak) const {
        if (!MayHold(weak)) return -1;
        auto it = std::lower_bound(entries_.begin(), entries_.end(), weak,
                                   [](const Entry& entry, uint32_t value) { return entry.weak < value; });
        for (; it != entries_.end() && it->weak == weak; ++it) {
            if (it->firstBlock != NoBlock) return it - entries_.begin();
        }
        return -1;
    }

    // Places every block with these sums at offset; false when none is left unplaced.
    bool Place(long from, uint32_t weak, uint32_t strong, uint64_t offset, BlockPlan& plan) {
        for (size_t i = (size_t)from; i < entries_.size() && entries_[i].weak == weak; ++i) {
            Entry& entry = entries_[i];
            if (entry.strong != strong || entry.firstBlock == NoBlock) continue;
            for (uint32_t block = entry.firstBlock; block != NoBlock; block = sameNext_[block]) plan[block] = offset;
            entry.firstBlock = NoBlock;
            return true;
        }
        return false;
    }

private:
    static constexpr uint32_t NoBlock = UINT32_MAX;
    struct Entry {
        uint32_t weak, strong, firstBlock;
    };
    uint32_t Mix(uint32_t weak) const { return (weak * 0x9E3779B1u) >> filterShift_; }

    std::vector<Entry> entries_;
    std::vector<uint32_t> sameNext_;
    std::vector<uint32_t> filter_;
    int filterShift_;
};

}  // namespace

size_t FileReadNext(void* file, void* buffer, size_t size) {
    return fread(buffer, 1, size, (FILE*)file);
}

bool FileSeek(void* file, uint64_t offset) {
#ifdef _WIN32
    return _fseeki64((FILE*)file, (long long)offset, SEEK_SET) == 0;
#else
    return fseeko((FILE*)file, (off_t)offset, SEEK_SET) == 0;
#endif
}

bool FileReadAt(void* file, uint64_t offset, void* buffer, size_t size) {
    return FileSeek(file, offset) && fread(buffer, 1, size, (FILE*)file) == size;
}

bool FileWrite(void* file, const void* data, size_t size) {
    return fwrite(data, 1, size, (FILE*)file) == size;
}

uint32_t BlockSizeFor(uint64_t length) {
    int shift = ChosenBlockShift;
    while (shift < LargestBlockShift && BlockCountFor(length, 1u << shift) > MaxChosenBlocks) ++shift;
    return 1u << shift;
}

uint32_t WeakSum(const unsigned char* data, size_t size) {
    RollingSum sum;
    sum.Start(data, size);
    return sum.Value();
}

int StrongSumSizeFor(uint64_t length) {
    return length <= (uint64_t)MaxChosenBlocks << ChosenBlockShift ? 3 : 4;
}

uint32_t StrongSum(const unsigned char* data, size_t size, int strongBytes) {
    Sha1 state;
    Sha1Init(state);
    Sha1Update(state, data, size);
    unsigned char digest[Sha1Size];
    Sha1Finish(state, digest);
    uint32_t sum = 0;
    for (int i = 0; i < strongBytes; ++i) sum = sum << 8 | digest[i];
    return sum;
}

bool MakeBlockIndexPath(const char* path, const char* digest, char* name, size_t size) {
    unsigned char bytes[Sha1Size];
    if (!DecodeHex(digest, strlen(digest), bytes, Sha1Size)) return false;
    char hex[DigestTextSize];
    EncodeHex(bytes, Sha1Size, hex);
    int written = snprintf(name, size, "%s.%s%s", path, hex, IndexSuffix);
    return written > 0 && (size_t)written < size;
}

bool IsBlockIndexPath(const std::string& path) {
    const size_t suffix = sizeof IndexSuffix - 1, tail = 1 + 2 * Sha1Size + suffix;
    if (path.size() < tail || path.compare(path.size() - suffix, suffix, IndexSuffix) != 0) return false;
    size_t dot = path.size() - tail;
    if (path[dot] != '.') return false;
    for (size_t i = dot + 1; i < dot + 1 + 2 * Sha1Size; ++i) {
        if (HexDigitValue(path[i]) < 0) return false;
    }
    return true;
}

int MakeBlockIndex(ReadNextFunction read, void* context, uint64_t length, BlockIndex* index) {
    index->blockSize = BlockSizeFor(length);
    index->strongBytes = StrongSumSizeFor(length);
    index->fileLength = 0;
    index->blocks.clear();
    std::vector<unsigned char> buffer(index->blockSize);
    Sha1 whole;
    Sha1Init(whole);
    for (;;) {
        size_t got = 0, n;
        while (got < buffer.size() && (n = read(context, buffer.data() + got, buffer.size() - got)) > 0) got += n;
        if (got == 0) break;
        Sha1Update(whole, buffer.data(), got);
        index->fileLength += got;
        index->blocks.push_back({WeakSum(buffer.data(), got), StrongSum(buffer.data(), got, index->strongBytes)});
        if (got < buffer.size()) break;
    }
    // A short read, or a file that changed its length while it was read, gives no index.
    if (index->fileLength != length) return EIO;
    Sha1Finish(whole, index->fileSha1);
    return 0;
}

std::string EncodeBlockIndex(const BlockIndex& index) {
    std::string out(Magic, sizeof Magic);
    int shift = 0;
    while (shift < 31 && (1u << shift) < index.blockSize) ++shift;
    out += (char)FormatVersion;
    out += (char)shift;
    out += (char)index.strongBytes;
    out += '\0';
    Store32(out, (uint32_t)index.fileLength);
    Store32(out, (uint32_t)(index.fileLength >> 32));
    out.append((const char*)index.fileSha1, Sha1Size);
    Store32(out, (uint32_t)index.blocks.size());
    for (const BlockSum& sum : index.blocks) {
        Store32(out, sum.weak);
        for (int i = 0; i < index.strongBytes; ++i) out += (char)(sum.strong >> (8 * i));
    }
    return out;
}

const char* ReadBlockIndex(const void* data, size_t size, const char* expectedDigest, BlockIndex* index) {
    const unsigned char* bytes = (const unsigned char*)data;
    if (size > MaxBlockIndexBytes) return "the block index is too large";
    if (size < BlockIndexHeaderSize) return "the block index is shorter than its header";
    if (memcmp(bytes, Magic, sizeof Magic) != 0) return "not a block index";
    if (bytes[4] != FormatVersion && bytes[4] != FirstFormatVersion) {
        return "the block index has an unknown format version";
    }
    int shift = bytes[5];
    if (shift < SmallestBlockShift || shift > LargestBlockShift) return "the block index has an unusable block size";
    const int strongBytes = bytes[4] == FirstFormatVersion && bytes[6] == 0 ? (int)MaxStrongSumSize : (int)bytes[6];
    if (strongBytes < 3 || strongBytes > MaxStrongSumSize || (bytes[4] == FirstFormatVersion && bytes[6])) {
        return "the block index has an unusable strong sum size";
    }
    if (bytes[7]) return "the block index has a reserved field set";
    const size_t entrySize = BlockIndexWeakSize + (size_t)strongBytes;
    uint64_t length = Load32(bytes + 8) | (uint64_t)Load32(bytes + 12) << 32;
    uint32_t count = Load32(bytes + 36);
    if (count > MaxIndexBlocks || count != BlockCountFor(length, 1u << shift)) {
        return "the block count does not match the file length and block size";
    }
    if (size != BlockIndexHeaderSize + (size_t)count * entrySize) {
        return "the block index's size does not match its block count";
    }
    unsigned char expected[Sha1Size];
    if (expectedDigest && !DecodeHex(expectedDigest, strlen(expectedDigest), expected, Sha1Size)) return "the listed digest is not a SHA-1 digest";
    if (expectedDigest && memcmp(expected, bytes + 16, Sha1Size) != 0) {
        return "the block index was made for another version of the file";
    }
    index->fileLength = length;
    memcpy(index->fileSha1, bytes + 16, Sha1Size);
    index->blockSize = 1u << shift;
    index->strongBytes = strongBytes;
    index->blocks.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* entry = bytes + BlockIndexHeaderSize + (size_t)i * entrySize;
        uint32_t strong = 0;
        for (int k = strongBytes - 1; k >= 0; --k) strong = strong << 8 | entry[BlockIndexWeakSize + k];
        index->blocks[i] = {Load32(entry), strong};
    }
    return nullptr;
}

BlockPlan ScanLocalFile(const BlockIndex& index, ReadNextFunction read, void* context, uint64_t start,
                        uint64_t stop) {
    const size_t count = index.blocks.size();
    BlockPlan plan(count, FetchBlock);
    if (count == 0) return plan;
    const uint32_t size = index.blockSize;
    // A short last block has a window of its own, rolled beside the full one; a full one is in the table.
    const uint32_t shortSize = LastBlockLength(index) < size ? LastBlockLength(index) : 0;
    const BlockSum lastSum = index.blocks[count - 1];
    BlockTable table(index, shortSize ? count - 1 : count);
    size_t unplaced = count;

    // The window [at, at + size) lies in buffer[0, have); buffer[0] is the local file's byte at base.
    std::vector<unsigned char> buffer((size_t)size + std::max<size_t>(size, ScanReadSize));
    size_t have = 0, at = 0;
    uint64_t base = start;
    bool end = false;
    RollingSum full, part;
    bool fullValid = false, partValid = false;
    while (unplaced > 0) {
        // Keep one byte past the window, which the next roll takes in.
        if (have - at <= size && !end) {
            memmove(buffer.data(), buffer.data() + at, have - at);
            base += at;
            have -= at;
            at = 0;
            while (have < buffer.size()) {
                size_t got = read(context, buffer.data() + have, buffer.size() - have);
                if (got == 0) {
                    end = true;
                    break;
                }
                have += got;
            }
        }
        if (base + at >= stop) break;
        const size_t left = have - at;
        const unsigned char* window = buffer.data() + at;
        bool matched = false;
        const bool wantShort = shortSize && plan[count - 1] == FetchBlock;
        if (left >= size) {
            // A new window: the short one, when still wanted, is summed in the same pass over its first bytes.
            if (!fullValid && wantShort && !partValid) {
                full.Start(window, size, &part, shortSize);
                partValid = true;
            } else if (!fullValid) {
                full.Start(window, size);
            }
            fullValid = true;
            uint32_t weak = full.Value();
            long entry = table.FindWeak(weak);
            if (entry >= 0 && table.Place(entry, weak, StrongSum(window, size, index.strongBytes), base + at, plan)) {
                matched = true;
                --unplaced;
            }
        }
        if (wantShort && left >= shortSize) {
            if (!partValid) part.Start(window, shortSize);
            partValid = true;
            if (part.Value() == lastSum.weak && StrongSum(window, shortSize, index.strongBytes) == lastSum.strong) {
                plan[count - 1] = base + at;
                --unplaced;
            }
        }
        if (left < (shortSize ? shortSize : size)) break;
        if (matched) {
            at += size;
            fullValid = partValid = false;
            continue;
        }
        if (left > size && fullValid) {
            full.Roll(window[0], window[size], size);
        } else {
            fullValid = false;
        }
        if (shortSize && left > shortSize && partValid) {
            part.Roll(window[0], window[shortSize], shortSize);
        } else {
            partValid = false;
        }
        ++at;
        // Between matches most offsets fail the filter at once: roll on without the checks above until an
        // offset may match, or the buffer needs refilling.
        const bool shortStill = shortSize && plan[count - 1] == FetchBlock;
        if (!fullValid || (shortStill && !partValid)) continue;
        if (!shortStill) partValid = false;
        const unsigned char* data = buffer.data();
        const size_t rollable = have > (size_t)size + 1 ? have - size - 1 : 0;
        const size_t until = (size_t)std::min<uint64_t>(rollable, stop - base);
        while (at < until && !table.MayHold(full.Value()) &&
               !(shortStill && part.Value() == lastSum.weak)) {
            full.Roll(data[at], data[at + size], size);
            if (shortStill) part.Roll(data[at], data[at + shortSize], shortSize);
            ++at;
        }
    }
    return plan;
}

BlockPlan ScanLocalFileInHalves(const BlockIndex& index, const char* path, FILE* local, uint64_t length) {
    struct Half {
        const BlockIndex* index;
        FILE* file;
        uint64_t start;
        BlockPlan plan;
    } later{&index, nullptr, length / 2, {}};
    HelperThread* helper = nullptr;
    if (length >= ParallelScanMinBytes && (later.file = fopen(path, "rb")) != nullptr &&
        FileSeek(later.file, later.start)) {
        auto run = [](void* argument) {
            Half& half = *static_cast<Half*>(argument);
            half.plan = ScanLocalFile(*half.index, FileReadNext, half.file, half.start);
        };
        helper = StartHelperThread(run, &later);
    }
    BlockPlan plan = ScanLocalFile(index, FileReadNext, local, 0, helper ? later.start : UINT64_MAX);
    if (helper) {
        JoinHelperThread(helper);
        MergePlans(plan, later.plan);
    }
    if (later.file) fclose(later.file);
    return plan;
}

void MergePlans(BlockPlan& plan, const BlockPlan& later) {
    for (size_t block = 0; block < plan.size() && block < later.size(); ++block) {
        if (plan[block] == FetchBlock) plan[block] = later[block];
    }
}

std::vector<ByteRange> FetchRanges(const BlockIndex& index, const BlockPlan& plan, uint64_t joinGap) {
    std::vector<ByteRange> ranges;
    for (size_t block = 0; block < plan.size() && block < index.blocks.size(); ++block) {
        if (plan[block] != FetchBlock) continue;
        uint64_t offset = (uint64_t)block * index.blockSize, length = BlockLength(index, block);
        if (!ranges.empty() && offset - (ranges.back().offset + ranges.back().length) <= joinGap) {
            ranges.back().length = offset + length - ranges.back().offset;
        } else {
            ranges.push_back({offset, length});
        }
    }
    return ranges;
}

uint64_t TotalLength(const std::vector<ByteRange>& ranges) {
    uint64_t total = 0;
    for (const ByteRange& range : ranges) total += range.length;
    return total;
}

bool OffsetInFetched(const std::vector<ByteRange>& ranges, uint64_t offset, uint64_t* stored) {
    // The first range that ends after offset; the stored offsets before it are summed as the search goes.
    uint64_t before = 0;
    for (const ByteRange& range : ranges) {
        if (offset < range.offset) return false;
        if (offset - range.offset < range.length) {
            *stored = before + (offset - range.offset);
            return true;
        }
        before += range.length;
    }
    return false;
}

const char* BuildFromPlan(const BlockIndex& index, const BlockPlan& plan, const BlockBuildIo& io, char* digest) {
    if (index.blockSize == 0 || index.blocks.size() != BlockCountFor(index.fileLength, index.blockSize) ||
        plan.size() != index.blocks.size()) {
        return "the plan does not fit the block index";
    }
    std::vector<unsigned char> buffer(std::max<size_t>(BuildChunk, index.blockSize));
    Sha1 whole;
    Sha1Init(whole);
    size_t block = 0;
    while (block < plan.size()) {
        // A run of blocks that come from one place in order: consecutive local offsets, or fetched bytes.
        const bool fetched = plan[block] == FetchBlock;
        const uint64_t targetStart = (uint64_t)block * index.blockSize;
        size_t length = BlockLength(index, block);
        size_t next = block + 1;
        while (next < plan.size() && length + index.blockSize <= buffer.size() &&
               (fetched ? plan[next] == FetchBlock : plan[next] == plan[block] + length)) {
            length += BlockLength(index, next);
            ++next;
        }
        bool read = fetched ? io.readFetched(io.context, targetStart, buffer.data(), length)
                            : io.readLocal(io.context, plan[block], buffer.data(), length);
        if (!read) return fetched ? "cannot read the fetched bytes" : "cannot read the local file";
        if (!io.write(io.context, buffer.data(), length)) return "cannot write the new file";
        Sha1Update(whole, buffer.data(), length);
        block = next;
    }
    Sha1FinishHex(whole, digest);
    return nullptr;
}
