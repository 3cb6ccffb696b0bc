// What a player sees of a long update: bytes, rate and time left, the disk space a run needs, and the gate that
// pauses and limits every transfer at once; portable. The meter is fed by the transfer threads and read by the run.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

// Bytes that arrive, counted by every transfer thread, and the rate over the last seconds.
class TransferMeter {
public:
    // Called as bytes arrive (resumed tails and patch ranges included); any thread.
    void Add(uint64_t bytes) { arrived_.fetch_add(bytes, std::memory_order_relaxed); }
    // Raises the total to come by bytes (a signed length, or an answer's length as it arrives); any thread.
    void AddToTotal(uint64_t bytes) { total_.fetch_add(bytes, std::memory_order_relaxed); }
    // A patch fetches less than its file's length, which the total counted: it then counts what is fetched.
    void AdjustTotal(int64_t bytes) { total_.fetch_add((uint64_t)bytes, std::memory_order_relaxed); }
    uint64_t Arrived() const { return arrived_.load(std::memory_order_relaxed); }
    uint64_t Total() const { return total_.load(std::memory_order_relaxed); }

    // Takes a sample at nowMs (a steady clock) and returns the rate in bytes a second over the last window, 0
    // until two samples lie apart. One thread samples.
    double Sample(uint64_t nowMs);
    // Whether the rate has been measured over a whole window, so that a time left can be said.
    bool Steady() const { return steady_; }
    // Starts counting a new run from zero; the sampling thread forgets its samples at its next sample.
    void Reset() {
        arrived_.store(0);
        total_.store(0);
        restart_.store(true);
    }

private:
    enum { Samples = 16, WindowMs = 3000 };
    std::atomic<uint64_t> arrived_{0}, total_{0};
    std::atomic<bool> restart_{false};
    uint64_t times_[Samples] = {}, bytes_[Samples] = {};
    int count_ = 0, next_ = 0;
    bool steady_ = false;
};

// "23.4 of 95.5 MB - 11.2 MB/s - about 7 s left" (MB of 10^6 bytes, one decimal). Without a steady rate the time
// left is left out; without a known total, "23.4 MB - 11.2 MB/s".
void FormatTransferStatus(char* buffer, size_t size, uint64_t arrived, uint64_t total, double bytesPerSecond,
                          bool steady);
// The line once the run ended: "95.5 MB in 9 s".
void FormatTransferSummary(char* buffer, size_t size, uint64_t arrived, uint64_t elapsedMs);

// One pending file as the disk check sees it.
struct SpaceItem {
    uint64_t length;        // its listed length (0 when the build has none)
    uint64_t partialBytes;  // what already waits in the staging folder
    bool patched;           // rebuilt beside its old copy, which stays until the new one is whole
};
// The bytes a run still writes before any file is replaced: every new copy whole, less what its partial holds
// already (a patch rebuilds the whole file in the staging folder, so its partial counts for nothing).
uint64_t SpaceNeeded(const SpaceItem* items, size_t count);

// "Not enough disk space: X MB needed, Y MB free"
void FormatNoSpaceLine(char* buffer, size_t size, uint64_t needed, uint64_t available);

// Free space kept on the game folder's volume during a run: a transfer stops writing below it.
enum : uint64_t { DiskReserveBytes = 64ull << 20 };

// Pause and the download limit, shared by every transfer of the process. Transfers ask Pass before they take more
// bytes from the network; the window sets the state from its thread.
class TransferGate {
public:
    // bytesPerSecond 0: no limit. Takes effect at once, for transfers already running too.
    void SetLimit(uint64_t bytesPerSecond);
    void SetPaused(bool paused);
    bool Paused() const { return paused_.load(); }

    // Waits until bytes may be taken under the limit (at most about a second at a time), nowMs being a steady clock
    // read by the caller's clock function. Returns false at once while paused: the transfer then stops and keeps
    // what arrived.
    bool Pass(size_t bytes, uint64_t (*nowMs)());
    // Waits while paused; true once resumed, false when timeoutMs passed first.
    bool WaitWhilePaused(unsigned timeoutMs);

    // The delay before bytes may pass at nowMs, charging them to the budget when none is needed; portable
    // arithmetic, table-tested.
    uint64_t ReserveMs(size_t bytes, uint64_t nowMs);

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::atomic<bool> paused_{false};
    uint64_t limit_ = 0;      // bytes a second
    double budget_ = 0;       // bytes that may pass now
    uint64_t lastMs_ = 0;
};

// The process's meter of the run in progress (the transfers add, the window samples) and the gate of every
// transfer (the window pauses and limits, the transfers pass it).
extern TransferMeter RunMeter;
extern TransferGate TransferControl;
