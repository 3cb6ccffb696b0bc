// Portable half of the transport: reading the URLs it is given; any transfer thread.
#include "updater/net/transport.h"

#include <string.h>

#include "common/text.h"

bool SplitHttpUrl(const char* url, char* host, size_t hostSize, unsigned* port, const char** object) {
    if (!StartsWithIgnoringCase(url, "http://")) return false;
    const char* start = url + 7;
    size_t length = strcspn(start, ":/");
    if (length == 0 || length >= hostSize) return false;
    memcpy(host, start, length);
    host[length] = '\0';
    const char* p = start + length;
    *port = 80;
    if (*p == ':') {
        uint64_t value;
        size_t digits = DecimalDigitCount(p + 1);
        if (!ParseDecimal(p + 1, digits, 65535, &value) || value == 0) return false;
        *port = (unsigned)value;
        p += 1 + digits;
    }
    if (*p != '/') return false;
    *object = p;
    return true;
}
