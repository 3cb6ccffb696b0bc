// The choice of host per transfer, failover, the ranking file and the list-host loop; portable, called under the
// transport's lock (HostChoice) or on the main thread.
#include "updater/net/host_choice.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <cmath>

#include "common/file.h"
#include "common/text.h"

static_assert(MaxRunHosts <= 32, "a file's failed hosts are bits of a uint32_t");

bool HostFailureOf(TransferFailure transfer, HostFailure* failure) {
    switch (transfer) {
    case TransferDone:
    case TransferLocalError:
    case TransferDiskFull: return false;  // the player's disk, not the host
    case TransferCut:
    case TransferRangeRefused: *failure = HostCut; return true;
    case TransferTimedOut: *failure = HostTimedOut; return true;
    case TransferServerError: *failure = HostServerError; return true;
    case TransferClientError: *failure = HostClientError; return true;
    case TransferTooLarge:
    case TransferDigestMismatch: *failure = HostBadBody; return true;
    }
    return false;
}

std::vector<std::string> MergeHosts(const std::vector<std::string>& buildBases,
                                    const std::vector<std::string>& mirrorBases) {
    std::vector<std::string> merged;
    for (const std::vector<std::string>* list : {&buildBases, &mirrorBases}) {
        for (const std::string& base : *list) {
            if ((int)merged.size() < MaxRunHosts && std::find(merged.begin(), merged.end(), base) == merged.end()) {
                merged.push_back(base);
            }
        }
    }
    return merged;
}

HostChoice::HostChoice(const std::vector<std::string>& bases, int files)
    : files_(files > 0 ? files : 0), unstarted_((int)files_.size()) {
    for (const std::string& base : MergeHosts(bases, {})) {
        hosts_.push_back(Host());
        hosts_.back().base = base;
    }
}

void HostChoice::Seed(const std::vector<HostRate>& ranking) {
    for (const HostRate& rate : ranking) {
        for (Host& host : hosts_) {
            if (host.base == rate.base) host.seededRate = (double)rate.bytesPerSecond;
        }
    }
}

double HostChoice::Rate(int index) const {
    const Host& host = hosts_[index];
    // A transfer of under a millisecond is counted as one, so that a tiny file cannot claim an endless rate.
    if (host.seconds > 0 || host.bytes) return (double)host.bytes / std::max(host.seconds, 0.001);
    return host.failedUnmeasured ? 0 : host.seededRate;
}

int HostChoice::Slots(int index) const {
    if (slotsPerHost_ >= 1 << 30) return slotsPerHost_;
    // By the rate per transfer: what a host gave in all grows with the slots it was given, so a host given few
    // would keep few; per transfer, one given few soon shows its worth again.
    double rate = Rate(index), best = 0;
    if (rate < 0) return std::min(2, slotsPerHost_);
    bool anotherMayWork = false;
    for (int i = 0; i < HostCount(); ++i) {
        if (hosts_[i].dropped || i == index) continue;
        best = std::max(best, Rate(i));
        anotherMayWork |= Rate(i) != 0;
    }
    if (rate == 0) return anotherMayWork ? 0 : slotsPerHost_;
    // Half the best or more: every slot. A host given fewer slots gives less in all, so a share for hosts alike in
    // speed would shrink one of them run after run.
    if (rate * 2 >= best) return slotsPerHost_;
    // The last files wait for a fast host rather than end the run late on a slow one.
    if (unstarted_ < slotsPerHost_) return 0;
    return (int)std::ceil(slotsPerHost_ * rate / best);
}

int HostChoice::Begin(int file) {
    if (file < 0 || file >= (int)files_.size() || hosts_.empty()) return -1;
    File& state = files_[file];
    // First the hosts that have not failed this file; then, within the budget, a retry where no 4xx forbids one.
    uint32_t untried = 0, retryable = 0;
    for (int i = 0; i < HostCount(); ++i) {
        if (hosts_[i].dropped) continue;
        if (!(state.failed >> i & 1)) untried |= 1u << i;
        if (!(state.refused >> i & 1)) retryable |= 1u << i;
    }
    uint32_t candidates = untried ? untried : state.attempts < HostAttemptBudget ? retryable : 0;
    if (!candidates) return -1;
    // Where none has room, the file waits for the end of an attempt in flight, which frees a slot; a host known to
    // have failed has no slot while another works, yet takes a file that no other host is left for.
    uint32_t roomy = 0;
    bool busy = false;
    for (int i = 0; i < HostCount(); ++i) {
        if (!(candidates >> i & 1)) continue;
        if (hosts_[i].inFlight < Slots(i)) roomy |= 1u << i;
        busy |= hosts_[i].inFlight > 0;
    }
    if (roomy) candidates = roomy;
    else if (busy) return NoHostFree;

    // A host with no rate that carries nothing is measured first, in the list's order.
    int best = -1;
    double known = 0;
    int knownCount = 0;
    for (int i = 0; i < HostCount() && best < 0; ++i) {
        if (!(candidates >> i & 1)) continue;
        double rate = Rate(i);
        if (rate < 0 && hosts_[i].inFlight == 0) best = i;
        if (rate >= 0) {
            known += rate;
            ++knownCount;
        }
    }
    // Else the best share of a rate; one whose measurement is under way counts as the average of the others, or as
    // equal to all when none is known (or every one known failed: a host that failed never wins over one that may not).
    if (best < 0) {
        const double assumed = knownCount && known > 0 ? known / knownCount : 1;
        double bestShare = -1;
        for (int i = 0; i < HostCount(); ++i) {
            if (!(candidates >> i & 1)) continue;
            double rate = Rate(i);
            double share = (rate < 0 ? assumed : rate) / (hosts_[i].inFlight + 1);
            if (share > bestShare) {
                best = i;
                bestShare = share;
            }
        }
    }
    if (state.attempts++ == 0) --unstarted_;
    ++hosts_[best].inFlight;
    return best;
}

int HostChoice::HostsInUse() const {
    int alive = 0;
    for (const Host& host : hosts_) alive += !host.dropped;
    return alive;
}

void HostChoice::Succeeded(int file, int host, uint64_t bytes, double seconds) {
    if (host < 0 || host >= HostCount() || file < 0 || file >= (int)files_.size()) return;
    Host& h = hosts_[host];
    if (h.inFlight > 0) --h.inFlight;
    h.bytes += bytes;
    h.seconds += seconds > 0 ? seconds : 0;
    h.failuresInARow = 0;
}

void HostChoice::Abandoned(int file, int host) {
    if (host < 0 || host >= HostCount() || file < 0 || file >= (int)files_.size()) return;
    if (hosts_[host].inFlight > 0) --hosts_[host].inFlight;
    if (files_[file].attempts > 0 && --files_[file].attempts == 0) ++unstarted_;
}

bool HostChoice::Failed(int file, int host, HostFailure failure, uint64_t bytes, double seconds) {
    if (host < 0 || host >= HostCount() || file < 0 || file >= (int)files_.size()) return false;
    Host& h = hosts_[host];
    if (h.inFlight > 0) --h.inFlight;
    files_[file].failed |= 1u << host;
    if (h.bytes == 0 && h.seconds <= 0) h.failedUnmeasured = true;
    if (!h.failedUnmeasured) {
        h.bytes += bytes;
        h.seconds += seconds > 0 ? seconds : 0;
    }
    if (failure == HostClientError) files_[file].refused |= 1u << host;
    if (h.dropped || ++h.failuresInARow < DropAfterFailuresInARow) return false;
    if (HostsInUse() <= 1) return false;  // the last host stays, as the only host of a build always did
    h.dropped = true;
    return true;
}

std::vector<HostRate> HostChoice::Ranking() const {
    std::vector<HostRate> ranking;
    for (int i = 0; i < HostCount(); ++i) {
        double rate = hosts_[i].dropped ? 0 : Rate(i);
        if (rate >= 0) ranking.push_back({hosts_[i].base, rate > 1e18 ? (uint64_t)1e18 : (uint64_t)rate});
    }
    std::stable_sort(ranking.begin(), ranking.end(),
                     [](const HostRate& a, const HostRate& b) { return a.bytesPerSecond > b.bytesPerSecond; });
    return ranking;
}

std::vector<HostRate> ReadHostRanking(const char* text, size_t length) {
    std::vector<HostRate> ranking;
    if (length > MaxRankingFileSize) length = MaxRankingFileSize;
    const char* at = text;
    const char* end = text + length;
    while (at < end && (int)ranking.size() < MaxRunHosts) {
        const char* lineEnd = (const char*)memchr(at, '\n', (size_t)(end - at));
        if (!lineEnd) break;  // a line cut by the bound or by a crash is no line
        const char* blank = (const char*)memchr(at, ' ', (size_t)(lineEnd - at));
        uint64_t rate;
        if (blank && ParseDecimal(at, (size_t)(blank - at), UINT64_MAX, &rate) &&
            !BaseUrlProblem(blank + 1, (size_t)(lineEnd - blank - 1))) {
            std::string base(blank + 1, lineEnd);
            bool seen = false;
            for (const HostRate& earlier : ranking) seen = seen || earlier.base == base;
            if (!seen) ranking.push_back({base, rate});
        }
        at = lineEnd + 1;
    }
    return ranking;
}

std::string FormatHostRanking(const std::vector<HostRate>& ranking) {
    std::string text;
    for (size_t i = 0; i < ranking.size() && i < (size_t)MaxRunHosts; ++i) {
        text += std::to_string(ranking[i].bytesPerSecond) + " " + ranking[i].base + "\n";
    }
    return text;
}

std::vector<HostRate> LoadHostRanking(const char* path) {
    std::string text;
    if (!ReadSmallFile(path, MaxRankingFileSize, text)) return {};
    return ReadHostRanking(text.data(), text.size());
}

bool SaveHostRanking(const char* path, const std::vector<HostRate>& ranking) {
    const std::string text = FormatHostRanking(ranking);
    return ReplaceFileContents(path, text.data(), text.size());
}

int ChooseListHost(const std::vector<std::string>& bases,
                   const std::function<const char*(int host, bool hurried, bool last)>& fetch,
                   const std::function<void(const char* line)>& say, std::vector<int>& passedOver) {
    const int count = (int)bases.size();
    if (count == 0) return -1;
    char line[UrlBufferSize + 200];  // a base URL and a short reason
    std::vector<int> unhurried;      // the last host, then those that only were slow to answer
    for (int host = 0; host + 1 < count; ++host) {
        const char* problem = fetch(host, true, false);
        if (!problem) return host;
        FormatPassedOverLine(line, sizeof line, bases[host].c_str(), problem);
        say(line);
        passedOver.push_back(host);
        if (strcmp(problem, TimedOutProblem) == 0) unhurried.push_back(host);
    }
    unhurried.insert(unhurried.begin(), count - 1);
    for (size_t i = 0; i < unhurried.size(); ++i) {
        const int host = unhurried[i];
        const bool last = i + 1 == unhurried.size();
        const char* problem = fetch(host, false, last);
        if (!problem) {
            passedOver.erase(std::remove(passedOver.begin(), passedOver.end(), host), passedOver.end());
            return host;
        }
        if (!last) {
            FormatPassedOverLine(line, sizeof line, bases[host].c_str(), problem);
            say(line);
        }
        if (host == count - 1) passedOver.push_back(host);
    }
    return -1;
}

const char TimedOutProblem[] = "timed out";

void FormatHostProblem(char* buffer, size_t size, TransferFailure failure, int httpStatus, long lastError) {
    // WinINet's error for a name that did not resolve; the value is the same on every platform's headers.
    const long NameNotResolved = 12007;
    if (httpStatus >= 400) {
        snprintf(buffer, size, "HTTP %d", httpStatus);
        return;
    }
    switch (failure) {
    case TransferTimedOut: snprintf(buffer, size, "%s", TimedOutProblem); return;
    case TransferTooLarge: snprintf(buffer, size, "too large"); return;
    case TransferDigestMismatch: snprintf(buffer, size, "wrong content"); return;
    case TransferRangeRefused: snprintf(buffer, size, "range refused"); return;
    default: break;
    }
    if (httpStatus == 0) {
        snprintf(buffer, size, lastError == NameNotResolved ? "the name did not resolve" : "connection refused");
    } else {
        snprintf(buffer, size, "cut short");
    }
}

void FormatPassedOverLine(char* buffer, size_t size, const char* base, const char* reason) {
    snprintf(buffer, size, "Update server %s passed over: %s.", base, reason);
}

void FormatFailoverLine(char* buffer, size_t size, const char* path, const char* fromBase, const char* reason,
                        const char* toBase) {
    snprintf(buffer, size, "Download: %s failed at %s (%s), trying %s.", path, fromBase, reason, toBase);
}

void FormatDroppedLine(char* buffer, size_t size, const char* base) {
    snprintf(buffer, size, "Update server %s dropped for this run: %d files failed in a row.", base,
             (int)DropAfterFailuresInARow);
}
