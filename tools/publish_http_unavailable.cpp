// Fetching in the Windows build of publish_manifest: not available (the native build fetches over POSIX sockets).
#include "tools/publish_http.h"

namespace {
const char NotAvailable[] = "checking a server is not available in the Windows build of publish_manifest; "
                            "use the Linux build";
}

const char* HttpUnavailable() { return NotAvailable; }

bool HttpGet(const HttpBase&, const std::string&, const HttpBodySink&, HttpAnswer*, std::string* error) {
    *error = NotAvailable;
    return false;
}
