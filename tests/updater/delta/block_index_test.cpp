// Tests of the block index: the scan finds moved blocks, the reader refuses malformed indexes, the rebuild
// stays inside its output; main thread only.
#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <string>

#include "updater/delta/block_index.h"
#include "updater/manifest.h"
#include "updater/delta/patch.h"

namespace {

struct Memory {
    const std::string* local;
    const std::string* fetched;  // the fetched ranges one after another
    const std::vector<ByteRange>* ranges;
    std::string out;
    size_t next = 0;
};

size_t ReadNext(void* context, void* buffer, size_t size) {
    Memory& memory = *(Memory*)context;
    size_t n = std::min(size, memory.local->size() - memory.next);
    memcpy(buffer, memory.local->data() + memory.next, n);
    memory.next += n;
    return n;
}
bool ReadFrom(const std::string& data, uint64_t offset, void* buffer, size_t size) {
    if (offset > data.size() || data.size() - offset < size) return false;
    memcpy(buffer, data.data() + offset, size);
    return true;
}
bool ReadLocal(void* context, uint64_t offset, void* buffer, size_t size) {
    return ReadFrom(*((Memory*)context)->local, offset, buffer, size);
}
bool ReadFetched(void* context, uint64_t offset, void* buffer, size_t size) {
    Memory& memory = *(Memory*)context;
    uint64_t stored;
    return OffsetInFetched(*memory.ranges, offset, &stored) && ReadFrom(*memory.fetched, stored, buffer, size);
}
bool Write(void* context, const void* data, size_t size) {
    ((Memory*)context)->out.append((const char*)data, size);
    return true;
}

std::string Random(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data) c = (char)random();
    return data;
}

BlockIndex IndexOf(const std::string& file) {
    Memory memory{&file, nullptr, nullptr, {}, 0};
    BlockIndex index;
    EXPECT_EQ(MakeBlockIndex(ReadNext, &memory, file.size(), &index), 0);
    return index;
}

// Scans local against the index of wanted (with split, as two parts split there), fetches the planned ranges
// from wanted and rebuilds.
struct Delta {
    uint64_t fetchBytes;
    std::string built, digest;
    const char* error;
};
Delta Update(const BlockIndex& index, const std::string& local, const std::string& wanted, size_t split = 0) {
    Memory memory{&local, nullptr, nullptr, {}, 0}, later{&local, nullptr, nullptr, {}, split};
    BlockPlan plan = ScanLocalFile(index, ReadNext, &memory, 0, split ? split : UINT64_MAX);
    if (split) MergePlans(plan, ScanLocalFile(index, ReadNext, &later, split));
    std::vector<ByteRange> ranges = FetchRanges(index, plan);
    std::string fetched;
    for (const ByteRange& range : ranges) fetched += wanted.substr(range.offset, range.length);
    memory.fetched = &fetched;
    memory.ranges = &ranges;
    char digest[DigestTextSize] = "";
    const char* error = BuildFromPlan(index, plan, {&memory, ReadLocal, ReadFetched, Write}, digest);
    return {TotalLength(ranges), memory.out, digest, error};
}

std::string HexOf(const unsigned char* sha1) {
    char text[DigestTextSize];
    for (int i = 0; i < Sha1Size; ++i) snprintf(text + 2 * i, 3, "%02x", sha1[i]);
    return text;
}

const std::string Old = Random(40960, 1);  // ten 4 KiB blocks
const std::string Big = Random(5 << 19, 6);  // 2.5 MiB: the scan refills its 1 MiB read buffer

// Block 3 of Old with its first bytes 10 20 30, or 11 18 31: the sum and the weighted sum of the bytes, so
// both halves of the weak sum, stay the same.
std::string WeakTwin(const char* three) {
    std::string data = Old;
    data.replace(3 * 4096, 3, three);
    return data;
}

TEST(BlockIndexTest, ScanFindsMovedBlocksAndFetchesTheRest) {
    const std::string collision = WeakTwin("\x0a\x14\x1e"), twin = WeakTwin("\x0b\x12\x1f");
    ASSERT_EQ(WeakSum((const unsigned char*)collision.data() + 3 * 4096, 4096),
              WeakSum((const unsigned char*)twin.data() + 3 * 4096, 4096));
    struct Row {
        const char* name;
        std::string local, wanted;
        uint64_t fetchBytes;
    } rows[] = {
        {"unchanged", Old, Old, 0},
        {"insertion shifts the later blocks", Old, Old.substr(0, 10000) + Random(100, 2) + Old.substr(10000), 4096},
        {"deletion shifts the later blocks", Old, Old.substr(0, 10000) + Old.substr(10100), 4096},
        {"reorder across a block boundary", Old, Old.substr(20000) + Old.substr(0, 20000), 4096},
        {"short last block found", Old, Old.substr(0, 39000), 0},
        {"short last block changed", Old, Old.substr(0, 36864) + Random(2136, 3), 2136},
        {"weak twin refused by the strong sum", twin, collision, 4096},
        {"no local file", "", Old, 40960},
        {"insertion past the first read buffer", Big, Big.substr(0, 1048577) + Random(4096, 5) + Big.substr(1048577),
         8192},
    };
    for (const Row& row : rows) {
        // One scan, and two halves side by side (split inside a block, and past the changed places).
        for (size_t split : {(size_t)0, row.local.size() / 2 + 1, row.local.size() - 5000}) {
            SCOPED_TRACE(std::string(row.name) + ", split at " + std::to_string(split));
            if (split > row.local.size()) continue;
            BlockIndex index = IndexOf(row.wanted);
            Delta delta = Update(index, row.local, row.wanted, split);
            EXPECT_EQ(delta.error, nullptr);
            EXPECT_EQ(delta.fetchBytes, row.fetchBytes);
            EXPECT_TRUE(delta.built == row.wanted);
            EXPECT_EQ(delta.digest, HexOf(index.fileSha1));
        }
    }
}

TEST(BlockIndexTest, ReaderRefusesMalformedIndexes) {
    const BlockIndex index = IndexOf(Old.substr(0, 39000));
    const std::string good = EncodeBlockIndex(index), digest = HexOf(index.fileSha1);
    BlockIndex read;
    ASSERT_EQ(ReadBlockIndex(good.data(), good.size(), digest.c_str(), &read), nullptr);
    EXPECT_TRUE(EncodeBlockIndex(read) == good);
    struct Row {
        const char* name;
        size_t at;
        int add;  // added to the byte at `at`; 0 cuts the index there instead
    } rows[] = {
        {"cut inside the header", 20, 0}, {"cut inside the blocks", good.size() - 3, 0}, {"magic", 0, 1},
        {"version", 4, 1},  {"block size too small", 5, -3}, {"block size too large", 5, 13},
        {"reserved", 7, 1}, {"length of another count", 9, 16},  {"block count", 36, 1},
        {"strong sum size", 6, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string bad = row.add ? good : good.substr(0, row.at);
        if (row.add) bad[row.at] = (char)(bad[row.at] + row.add);
        EXPECT_NE(ReadBlockIndex(bad.data(), bad.size(), nullptr, &read), nullptr);
    }
    const std::string longer = good + '\0', huge(MaxBlockIndexBytes + 1, '\0');
    EXPECT_NE(ReadBlockIndex(longer.data(), longer.size(), nullptr, &read), nullptr);
    EXPECT_NE(ReadBlockIndex(huge.data(), huge.size(), nullptr, &read), nullptr);
    const std::string other = HexOf(IndexOf(Old).fileSha1);
    EXPECT_NE(ReadBlockIndex(good.data(), good.size(), other.c_str(), &read), nullptr);

    // An index of the first format (whole 4-byte strong sums, byte 6 zero) is still read and used.
    const std::string wanted = Old.substr(0, 39000);
    BlockIndex wide = index;
    wide.strongBytes = 4;
    for (size_t i = 0; i < wide.blocks.size(); ++i) {
        const std::string block = wanted.substr(i * 4096, 4096);
        wide.blocks[i].strong = StrongSum((const unsigned char*)block.data(), block.size());
    }
    std::string first = EncodeBlockIndex(wide);
    first[4] = 1;
    first[6] = 0;
    ASSERT_EQ(ReadBlockIndex(first.data(), first.size(), digest.c_str(), &read), nullptr);
    EXPECT_EQ(read.strongBytes, 4);
    EXPECT_EQ(Update(read, Old, wanted).built, wanted);
    EXPECT_EQ(Update(read, Old, wanted).fetchBytes, 0u);
}

TEST(BlockIndexTest, LyingIndexFailsTheDigestAndTheRebuildStaysInItsOutput) {
    // Block sums of another file, with the wanted file's length and digest.
    const std::string wanted = Random(40960, 4);
    BlockIndex index = IndexOf(Old);
    memcpy(index.fileSha1, IndexOf(wanted).fileSha1, Sha1Size);
    Delta delta = Update(index, Old, wanted);
    EXPECT_EQ(delta.error, nullptr);
    EXPECT_EQ(delta.built.size(), wanted.size());
    EXPECT_NE(delta.digest, HexOf(index.fileSha1));

    // A plan that points past the local file, or does not fit the index, writes nothing past its length.
    Memory memory{&Old, nullptr, nullptr, {}, 0};
    char digest[DigestTextSize];
    BlockPlan beyond(index.blocks.size(), 0);
    beyond.back() = Old.size() - 100;
    EXPECT_NE(BuildFromPlan(index, beyond, {&memory, ReadLocal, ReadFetched, Write}, digest), nullptr);
    EXPECT_LT(memory.out.size(), index.fileLength);
    memory.out.clear();
    EXPECT_NE(BuildFromPlan(index, BlockPlan(3, 0), {&memory, ReadLocal, ReadFetched, Write}, digest), nullptr);
    EXPECT_TRUE(memory.out.empty());
}

TEST(BlockIndexTest, IndexNameAndBlockSize) {
    char name[PathSlotSize];
    ASSERT_TRUE(MakeBlockIndexPath("sprites/a.pak", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709", name, sizeof name));
    EXPECT_STREQ(name, "sprites/a.pak.da39a3ee5e6b4b0d3255bfef95601890afd80709.blocks");
    EXPECT_TRUE(IsSafeManifestPath(name) && IsBlockIndexPath(name) && !IsBlockIndexPath("sprites/a.pak"));
    EXPECT_FALSE(MakeBlockIndexPath("a.pak", "da39", name, sizeof name));
    const struct {
        uint64_t length;
        uint32_t blockSize;
    } sizes[] = {{0, 4096}, {256ull << 20, 4096}, {(256ull << 20) + 1, 8192}, {4ull << 30, 65536}};
    for (const auto& row : sizes) EXPECT_EQ(BlockSizeFor(row.length), row.blockSize) << row.length;
}

TEST(BlockIndexTest, PatchFetchesTheChangedBlocksWhateverThePatternAndOnlyWhenWorthIt) {
    // Scattered changes: one changed block in every `every`, from block 7 on. Blocks closer than the join gap are
    // fetched as one range; however many ranges that makes, the bytes stay those of the changed blocks (plus the
    // gaps joined), so a pack edited in a thousand places is still worth patching.
    const struct {
        size_t blocks, every;
        size_t ranges;
        uint64_t bytes;
        bool worthIt;
    } rows[] = {
        {1000, 40, 25, 25 * 4096, true},          // 160 KiB apart: every block a range of its own
        {4000, 40, 100, 100 * 4096, true},
        {65536, 64, 1024, 1024 * 4096, true},     // 256 MiB, 1024 edits spread evenly
        {1000, 10, 1, 991 * 4096, false},         // 40 KiB apart: joined into one from the first to the last
    };
    for (const auto& row : rows) {
        BlockIndex index;
        index.blockSize = 4096;
        index.fileLength = row.blocks * 4096;
        index.blocks.resize(row.blocks);
        BlockPlan plan(row.blocks);
        for (size_t i = 0; i < row.blocks; ++i) plan[i] = i % row.every == 7 ? FetchBlock : i * 4096;
        std::vector<ByteRange> ranges = PatchRanges(index, plan);
        EXPECT_EQ(ranges.size(), row.ranges) << row.blocks << "/" << row.every;
        EXPECT_EQ(TotalLength(ranges), row.bytes) << row.blocks << "/" << row.every;
        EXPECT_EQ(PatchWorthIt(index.fileLength, 0, TotalLength(ranges)), row.worthIt) << row.blocks << "/" << row.every;
        uint64_t stored;
        for (size_t i = 7; i < row.blocks; i += row.every) EXPECT_TRUE(OffsetInFetched(ranges, i * 4096, &stored)) << i;
    }
    EXPECT_TRUE(PatchWorthIt(3 << 20, 6200, 300 << 10));
    EXPECT_FALSE(PatchWorthIt(3 << 20, 6200, 3 << 19));
    char line[200];
    const struct {
        uint64_t fetched, whole;
        const char* text;
    } lines[] = {{330000, 3 << 20, "Patched a.pak: 0.3 of 3.0 MB fetched."},
                 {52428, 1 << 20, "Patched a.pak: 0.0 of 1.0 MB fetched."},
                 {52429 + (1 << 20), 20 << 20, "Patched a.pak: 1.1 of 20.0 MB fetched."}};
    for (const auto& row : lines) {
        FormatPatchedLine(line, sizeof line, "a.pak", row.fetched, row.whole);
        EXPECT_STREQ(line, row.text);
    }
}

}  // namespace
