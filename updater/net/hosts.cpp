// The table of the update hosts the launcher was built with; portable, read-only, any thread.
#include "updater/net/hosts.h"

#include "update_hosts.h"  // written by CMake from LAUNCHER_UPDATE_HOST

namespace {

const char* const ListHostBaseUrls[] = {LAUNCHER_UPDATE_BASE_URLS};
static_assert(sizeof ListHostBaseUrls / sizeof ListHostBaseUrls[0] <= MaxListHosts,
              "cmake/update_host.cmake takes at most MaxListHosts hosts");

}  // namespace

int ListHostCount() { return (int)(sizeof ListHostBaseUrls / sizeof ListHostBaseUrls[0]); }

const char* ListHostBaseUrl(int index) {
    return index >= 0 && index < ListHostCount() ? ListHostBaseUrls[index] : nullptr;
}
