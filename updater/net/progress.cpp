// Bytes, rate and time left of a run, the space it needs, and the shared pause and limit; portable, any thread as
// each declaration says.
#include "updater/net/progress.h"

#include <stdio.h>

#include <algorithm>
#include <chrono>

TransferMeter RunMeter;
TransferGate TransferControl;

double TransferMeter::Sample(uint64_t nowMs) {
    if (restart_.exchange(false)) {
        count_ = next_ = 0;
        steady_ = false;
    }
    times_[next_] = nowMs;
    bytes_[next_] = Arrived();
    int newest = next_;
    next_ = (next_ + 1) % Samples;
    if (count_ < Samples) ++count_;
    // The oldest sample still inside the window, or the oldest kept.
    int oldest = newest;
    for (int k = 1; k < count_; ++k) {
        int i = (newest - k + Samples) % Samples;
        oldest = i;
        if (nowMs - times_[i] >= WindowMs) break;
    }
    uint64_t span = nowMs - times_[oldest];
    if (span >= WindowMs) steady_ = true;
    if (span == 0) return 0;
    return (double)(bytes_[newest] - bytes_[oldest]) * 1000.0 / (double)span;
}

namespace {

double Megabytes(uint64_t bytes) {
    return (double)bytes / 1e6;
}

}  // namespace

void FormatTransferStatus(char* buffer, size_t size, uint64_t arrived, uint64_t total, double bytesPerSecond,
                          bool steady) {
    char done[48];
    if (total >= arrived && total > 0) {
        snprintf(done, sizeof done, "%.1f of %.1f MB", Megabytes(arrived), Megabytes(total));
    } else {
        snprintf(done, sizeof done, "%.1f MB", Megabytes(arrived));
    }
    if (!steady || bytesPerSecond < 1 || total < arrived || total == 0) {
        snprintf(buffer, size, "%s - %.1f MB/s", done, Megabytes((uint64_t)bytesPerSecond));
        return;
    }
    // Rounded up, so that the last second still says "about 1 s left".
    uint64_t left = (uint64_t)(((double)(total - arrived) + bytesPerSecond - 1) / bytesPerSecond);
    if (left >= 120) {
        snprintf(buffer, size, "%s - %.1f MB/s - about %llu min left", done, Megabytes((uint64_t)bytesPerSecond),
                 (unsigned long long)((left + 59) / 60));
    } else {
        snprintf(buffer, size, "%s - %.1f MB/s - about %llu s left", done, Megabytes((uint64_t)bytesPerSecond),
                 (unsigned long long)left);
    }
}

void FormatTransferSummary(char* buffer, size_t size, uint64_t arrived, uint64_t elapsedMs) {
    snprintf(buffer, size, "%.1f MB in %llu s", Megabytes(arrived), (unsigned long long)((elapsedMs + 500) / 1000));
}

uint64_t SpaceNeeded(const SpaceItem* items, size_t count) {
    uint64_t needed = 0;
    for (size_t i = 0; i < count; ++i) {
        const SpaceItem& item = items[i];
        uint64_t waiting = item.patched ? 0 : std::min(item.partialBytes, item.length);
        needed += item.length - waiting;
    }
    return needed;
}

void FormatNoSpaceLine(char* buffer, size_t size, uint64_t needed, uint64_t available) {
    // Rounded up and down, so that the line never shows the two as equal.
    snprintf(buffer, size, "Not enough disk space: %llu MB needed, %llu MB free",
             (unsigned long long)((needed + 999999) / 1000000), (unsigned long long)(available / 1000000));
}

void TransferGate::SetLimit(uint64_t bytesPerSecond) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        limit_ = bytesPerSecond;
        budget_ = 0;
        lastMs_ = 0;
    }
    changed_.notify_all();
}

void TransferGate::SetPaused(bool paused) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        paused_.store(paused);
    }
    changed_.notify_all();
}

uint64_t TransferGate::ReserveMs(size_t bytes, uint64_t nowMs) {
    if (limit_ == 0) return 0;
    // The budget refills at the limit, and holds at most a quarter second of it (or one read), so that the rate
    // over any few seconds stays at the limit.
    if (lastMs_ == 0 || nowMs < lastMs_) lastMs_ = nowMs;
    budget_ += (double)(nowMs - lastMs_) * (double)limit_ / 1000.0;
    lastMs_ = nowMs;
    double cap = std::max((double)limit_ / 4, (double)bytes);
    if (budget_ > cap) budget_ = cap;
    if (budget_ >= (double)bytes) {
        budget_ -= (double)bytes;
        return 0;
    }
    return (uint64_t)(((double)bytes - budget_) * 1000.0 / (double)limit_) + 1;
}

bool TransferGate::Pass(size_t bytes, uint64_t (*nowMs)()) {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        if (paused_.load()) return false;
        uint64_t wait = ReserveMs(bytes, nowMs());
        if (wait == 0) return true;
        changed_.wait_for(guard, std::chrono::milliseconds(std::min<uint64_t>(wait, 1000)));
    }
}

bool TransferGate::WaitWhilePaused(unsigned timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return !paused_.load(); });
}
