// Fuzz target of the block index reader: never a crash, and an accepted index is consistent (one block per
// block size of the length, the last one short or full) and encodes back to exactly the bytes read (an index of
// the first format, to the same bytes under the current version and its strong sum size, 4).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "updater/delta/block_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BlockIndex index;
    if (ReadBlockIndex(data, size, nullptr, &index)) return 0;
    if (index.blockSize < (1u << SmallestBlockShift) || index.blockSize > (1u << LargestBlockShift) ||
        (index.blockSize & (index.blockSize - 1)) != 0 || index.blocks.size() > MaxIndexBlocks) {
        abort();
    }
    uint64_t full = index.blocks.empty() ? 0 : (uint64_t)(index.blocks.size() - 1) * index.blockSize;
    if (index.fileLength < full || (index.blocks.empty() ? index.fileLength != 0 : index.fileLength - full == 0) ||
        index.fileLength - full > index.blockSize) {
        abort();
    }
    std::string encoded = EncodeBlockIndex(index), expected((const char*)data, size);
    if (expected[4] == 1) {
        expected[4] = 2;
        expected[6] = 4;
    }
    if (encoded != expected) abort();
    return 0;
}
