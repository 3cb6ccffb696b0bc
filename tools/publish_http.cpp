// Addresses of publish_manifest's HTTP client: the base address given to --check and the request target of a file;
// portable, single-threaded.
#include "tools/publish_http.h"

#include <ctype.h>
#include <stdio.h>

#include "common/text.h"

bool ParseHttpBase(const std::string& text, HttpBase* base, std::string* error) {
    static const char Scheme[] = "http://";
    if (text.compare(0, sizeof Scheme - 1, Scheme) != 0) {
        *error = text + " is not an http:// address (launchers fetch plain HTTP)";
        return false;
    }
    const size_t hostStart = sizeof Scheme - 1, slash = text.find('/', hostStart);
    const std::string authority = text.substr(hostStart, slash == std::string::npos ? slash : slash - hostStart);
    std::string path = slash == std::string::npos ? "/" : text.substr(slash);
    const size_t colon = authority.find(':');
    HttpBase read;
    read.host = authority.substr(0, colon);
    uint64_t port = 0;
    if (colon != std::string::npos) {
        read.port = authority.substr(colon + 1);
        if (!ParseDecimal(read.port.data(), read.port.size(), 65535, &port) || port == 0) {
            *error = text + ": the port is not a number from 1 to 65535";
            return false;
        }
    }
    bool hostOk = !read.host.empty();
    for (char c : read.host) hostOk = hostOk && (isalnum((unsigned char)c) || c == '.' || c == '-');
    if (!hostOk) {
        *error = text + ": the host is not a host name or an IPv4 address";
        return false;
    }
    if (path.find_first_of("?#") != std::string::npos) {
        *error = text + ": a base address has no query or fragment";
        return false;
    }
    if (path.back() != '/') path += '/';
    read.path = path;
    *base = read;
    return true;
}

std::string HttpRequestTarget(const HttpBase& base, const std::string& path) {
    std::string target = base.path;
    for (unsigned char c : path) {
        if (c <= ' ' || c >= 0x7f || c == '%' || c == '#' || c == '?') {
            char escaped[4];
            snprintf(escaped, sizeof escaped, "%%%02X", c);
            target += escaped;
        } else {
            target += (char)c;
        }
    }
    return target;
}
