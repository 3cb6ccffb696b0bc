// Which host serves each transfer of an update run, and where a failed attempt goes next; portable. HostChoice is not
// locked: the transfer threads call it under the transport's own lock. The list-host loop runs on the main thread.
//
// The hosts of a run are the build's hosts (updater/net/hosts.h), then the mirrors of a checked mirror list. Every
// completed transfer measures its host's rate (bytes / seconds); each attempt goes to the host that would give it
// the most (its rate divided by the transfers it already carries, plus one), among the hosts that have not failed
// that file, so K slots spread over the hosts that work in proportion to their rates. A host with no rate yet, in
// this run or the last one, is taken first while it carries nothing, so that it gets measured; one that failed
// before any transfer of this run completed counts as rate 0, taken only where no other host is left. A failed attempt
// sends the next one to a host that has not failed the file; only when every host left has failed it does the file
// go back to one of them, as a retry within the attempt budget, and never to one that answered 4xx. A host that
// fails DropAfterFailuresInARow files in a row is dropped for the run, unless it is the last one left, so that a
// build with one host runs as before (4 attempts, no retry after a 4xx).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "updater/net/hosts.h"
#include "updater/net/mirror_list.h"
#include "updater/net/transfer.h"

enum {
    MaxRunHosts = MaxListHosts + MaxMirrors,
    // Attempts of one file across hosts, as the transport's retries: the first and 3 more.
    HostAttemptBudget = 4,
    DropAfterFailuresInARow = 3,
    // A list host that accepted the connection has this long to send the first byte of its answer before the next
    // list host is asked, so that a silent host holds the window back for under a second, not the whole time-out; one
    // that only timed out so is asked again with the whole time-out when no later host gave the list. The test
    // build gives more, so that a loaded machine does not pass over a host that answers.
    ListHostFirstByteMs = LAUNCHER_LIST_FIRST_BYTE_MS,
    // While another host could take a file, its attempt has this long to its first byte.
    FileHostFirstByteMs = 4000,
    // "<bytes per second> <base URL>\n" per host: 20 digits, a blank, the URL and the LF.
    MaxRankingFileSize = MaxRunHosts * (20 + 1 + MaxBaseUrlLength + 1),
};

// The last run's ranking, kept between starts in the staging folder. Its name has a blank and starts with a letter,
// so no partial download (a pending index and a blank first, or a path, which holds no blank) can take it.
#define HostRankingName StagingFolder "\\host ranking.txt"

enum HostFailure {
    HostRefused,      // the connection was refused, or the name did not resolve
    HostTimedOut,     // nothing arrived within the time-out
    HostClientError,  // 4xx: that host will not serve the file, whatever is retried
    HostServerError,  // 5xx
    HostCut,          // the body ended short
    HostTooSlow,      // below the minimum rate
    HostBadBody,      // the body failed its digest, signed length or SHA-256
};

// The host failure of a transfer's failure, into *failure; false for a success and for a failure of the game folder,
// which no other host would mend. A range the host refused counts as a cut: the file starts over, on another host.
bool HostFailureOf(TransferFailure transfer, HostFailure* failure);

struct HostRate {
    std::string base;
    uint64_t bytesPerSecond;
};

// The hosts of a run: bases in order (the build's, then the mirrors'), each once, at most MaxRunHosts.
std::vector<std::string> MergeHosts(const std::vector<std::string>& buildBases,
                                    const std::vector<std::string>& mirrorBases);

class HostChoice {
public:
    // bases: the run's hosts (MergeHosts); files: the pending files, numbered from 0.
    HostChoice(const std::vector<std::string>& bases, int files);

    // At most slots attempts in flight on a host whose rate is at least half the fastest's, and on a slower one
    // in proportion to its rate (none on one known to have failed, nor for the last files), so that each host that works has slots of its own, as a build with one host gives its one host, while
    // few files wait long on a slow line. A host not yet measured has two until it is. Unbounded until called.
    void LimitSlotsPerHost(int slots) { slotsPerHost_ = slots; }
    // Hosts not dropped for the run.
    int HostsInUse() const;

    // Takes the last run's rates for the hosts it names (ReadHostRanking); a host of rate 0 is known to have failed.
    void Seed(const std::vector<HostRate>& ranking);

    // The host for the next attempt of file, counted as in flight and against the file's budget; -1 when the file is
    // given up: no host is left that has not failed it, and no retry is allowed on those that have; NoHostFree when
    // every host left for it has all its slots in flight: ask again once an attempt ended.
    int Begin(int file);
    enum { NoHostFree = -2 };
    // The attempt of file on host, begun by Begin, completed with bytes in seconds.
    void Succeeded(int file, int host, uint64_t bytes, double seconds);
    // The attempt failed after bytes in seconds, which count in the host's rate (a slow or stalled host falls
    // behind); true when the host was dropped for the rest of the run by this failure.
    bool Failed(int file, int host, HostFailure failure, uint64_t bytes = 0, double seconds = 0);
    // The attempt of file on host, begun by Begin, was not made or ended for a reason of the player's side (a patch
    // that did not apply, a full disk): it counts neither against the file's budget nor in the host's rate.
    void Abandoned(int file, int host);
    // Whether host failed file before: an attempt Begin gives there is a retry, which waits as the transport's
    // retries wait; an attempt on another host starts at once.
    bool FailedBefore(int file, int host) const {
        return file >= 0 && file < (int)files_.size() && host >= 0 && (files_[file].failed >> host & 1);
    }

    int HostCount() const { return (int)hosts_.size(); }
    const std::string& Base(int host) const { return hosts_[host].base; }
    bool Dropped(int host) const { return hosts_[host].dropped; }
    int InFlight(int host) const { return hosts_[host].inFlight; }

    // Every host with a rate, the fastest first; a dropped host with rate 0. For WriteHostRanking at the run's end.
    std::vector<HostRate> Ranking() const;

private:
    struct Host {
        std::string base;
        uint64_t bytes = 0;
        double seconds = 0;      // of completed transfers in this run
        double seededRate = -1;  // bytes per second of the last run; -1 when it did not rank the host
        int inFlight = 0;
        int failuresInARow = 0;
        bool failedUnmeasured = false;  // failed before any transfer of this run completed: rate 0
        bool dropped = false;
    };
    struct File {
        uint32_t failed = 0;   // hosts that failed it
        uint32_t refused = 0;  // hosts that answered 4xx for it
        int attempts = 0;
    };
    double Rate(int host) const;  // -1 when unknown
    int Slots(int host) const;
    std::vector<Host> hosts_;
    std::vector<File> files_;
    int slotsPerHost_ = 1 << 30;
    int unstarted_;  // files never begun
};

// Reads a ranking file: "<bytes per second> <base URL>\n" lines, at most MaxRunHosts, from the first
// MaxRankingFileSize bytes; a line that is not of that form, or names a host again, is skipped.
std::vector<HostRate> ReadHostRanking(const char* text, size_t length);
std::string FormatHostRanking(const std::vector<HostRate>& ranking);
// The ranking kept at path (HostRankingName in the launcher); none when the file is missing, unreadable or longer
// than MaxRankingFileSize.
std::vector<HostRate> LoadHostRanking(const char* path);
// Replaces the file at path with ranking in one step; false when it could not be written.
bool SaveHostRanking(const char* path, const std::vector<HostRate>& ranking);

// Asks the build's list hosts for the file list: fetch(host, hurried, last) fetches and checks update.cfg (and,
// signed, its signature and listing) from bases[host], hurried: within ListHostFirstByteMs to its first byte, and
// returns null when it gave a whole, valid answer, else why not ("connection refused", "timed out", "HTTP 404", "the
// signature is not valid"). Every host but the last is asked hurried, in order; then the last, and after it those
// that only timed out, with the whole time-out. The one asked last of all is told so (last): its own lines say why
// it failed. Each other host that fails is passed over with a line to say (FormatPassedOverLine), and its index
// goes to passedOver unless a later ask chose it. Returns the host that answered, -1 when none did.
int ChooseListHost(const std::vector<std::string>& bases,
                   const std::function<const char*(int host, bool hurried, bool last)>& fetch,
                   const std::function<void(const char* line)>& say, std::vector<int>& passedOver);

// Why a host's transfer failed, in a few words, for the passed-over and failover lines: "connection refused",
// "the name did not resolve", "timed out", "HTTP 503", "cut short", "too large", "wrong content".
void FormatHostProblem(char* buffer, size_t size, TransferFailure failure, int httpStatus, long lastError);
extern const char TimedOutProblem[];  // "timed out"

// "Update server %s passed over: %s."
void FormatPassedOverLine(char* buffer, size_t size, const char* base, const char* reason);
// "Download: %s failed at %s (%s), trying %s." when an attempt goes to another host.
void FormatFailoverLine(char* buffer, size_t size, const char* path, const char* fromBase, const char* reason,
                        const char* toBase);
// "Update server %s dropped for this run: %d files failed in a row."
void FormatDroppedLine(char* buffer, size_t size, const char* base);
