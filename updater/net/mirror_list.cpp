// The mirror list's reader and writer and the rule for a base URL; portable, main thread (and the publisher tool).
#include "updater/net/mirror_list.h"

#include <stdio.h>
#include <string.h>

#include "common/text.h"

namespace {

bool IsAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// An IPv4 address of four numbers up to 255, or a host name of letters, digits and hyphens in dot-separated labels
// of at most 63 characters that neither start nor end with a hyphen.
const char* HostProblem(const char* host, size_t length) {
    if (length == 0) return "has no host";
    if (length > 253) return "has a host name longer than 253 characters";
    bool numeric = true;
    for (size_t i = 0; i < length; ++i) numeric = numeric && ((host[i] >= '0' && host[i] <= '9') || host[i] == '.');
    size_t start = 0;
    int labels = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && host[i] != '.') continue;
        const char* label = host + start;
        size_t labelLength = i - start;
        ++labels;
        if (numeric) {
            uint64_t number;
            if (labelLength == 0 || labelLength > 3 || !ParseDecimal(label, labelLength, 255, &number)) {
                return "has a host of digits and dots that is not an IPv4 address";
            }
        } else {
            if (labelLength == 0 || labelLength > 63 || label[0] == '-' || label[labelLength - 1] == '-') {
                return "has a host that is not a host name";
            }
            for (size_t j = 0; j < labelLength; ++j) {
                if (!IsAlnum(label[j]) && label[j] != '-') return "has a host that is not a host name";
            }
        }
        start = i + 1;
    }
    if (numeric && labels != 4) return "has a host of digits and dots that is not an IPv4 address";
    return nullptr;
}

}  // namespace

const char* BaseUrlProblem(const char* text, size_t length) {
    static const char Scheme[] = "http://";
    const size_t schemeLength = sizeof Scheme - 1;
    if (length > MaxBaseUrlLength) return "is longer than 200 characters";
    if (length < schemeLength || memcmp(text, Scheme, schemeLength) != 0) return "does not start with http://";
    const char* authority = text + schemeLength;
    const char* end = text + length;
    const char* slash = (const char*)memchr(authority, '/', (size_t)(end - authority));
    if (!slash) return "has no path: give the folder, ending in /";
    const char* colon = (const char*)memchr(authority, ':', (size_t)(slash - authority));
    const char* hostEnd = colon ? colon : slash;
    if (const char* problem = HostProblem(authority, (size_t)(hostEnd - authority))) return problem;
    if (colon) {
        uint64_t port;
        size_t digits = (size_t)(slash - colon - 1);
        if (!ParseDecimal(colon + 1, digits, 65535, &port) || port == 0 || (digits > 1 && colon[1] == '0')) {
            return "has a port that is not a number from 1 to 65535";
        }
    }
    if (end[-1] != '/') return "does not end with / (a base URL names a folder)";
    // Between the slashes: parts of letters, digits and - . _ ~, none empty, "." or "..", so that one URL names one
    // folder and needs no escaping.
    for (const char* part = slash + 1; part < end;) {
        const char* partEnd = (const char*)memchr(part, '/', (size_t)(end - part));
        size_t partLength = (size_t)(partEnd - part);
        if (partLength == 0) return "has an empty part in its path (//)";
        if ((partLength == 1 && part[0] == '.') || (partLength == 2 && part[0] == '.' && part[1] == '.')) {
            return "has a . or .. part in its path";
        }
        for (size_t i = 0; i < partLength; ++i) {
            char c = part[i];
            if (!IsAlnum(c) && c != '-' && c != '.' && c != '_' && c != '~') {
                return "has a character other than letters, digits and - . _ ~ in its path";
            }
        }
        part = partEnd + 1;
    }
    return nullptr;
}

bool ReadMirrorList(const char* text, size_t length, std::vector<std::string>* bases, char* problem,
                    size_t problemSize) {
    bases->clear();
    if (length > MaxMirrorListSize) return Refuse(problem, problemSize, "is longer than %d bytes", MaxMirrorListSize);
    std::vector<std::string> read;
    const char* at = text;
    const char* end = text + length;
    for (int line = 1; at < end; ++line) {
        const char* lineEnd = (const char*)memchr(at, '\n', (size_t)(end - at));
        if (!lineEnd) return Refuse(problem, problemSize, "line %d has no line end", line);
        if (line > MaxMirrors) return Refuse(problem, problemSize, "lists more than %d mirrors", MaxMirrors);
        size_t lineLength = (size_t)(lineEnd - at);
        if (lineLength == 0) return Refuse(problem, problemSize, "line %d is empty", line);
        // The line is shown only when it is made of printable ASCII, so that no byte of it can forge a log line.
        bool printable = lineLength <= MaxBaseUrlLength;
        for (size_t i = 0; i < lineLength && printable; ++i) printable = at[i] >= ' ' && at[i] < 0x7f;
        if (const char* why = BaseUrlProblem(at, lineLength)) {
            return printable ? Refuse(problem, problemSize, "line %d: %.*s %s", line, (int)lineLength, at, why)
                             : Refuse(problem, problemSize, "line %d is not a base URL", line);
        }
        std::string base(at, lineLength);
        for (const std::string& earlier : read) {
            if (earlier == base) return Refuse(problem, problemSize, "line %d: %s is listed twice", line, base.c_str());
        }
        read.push_back(base);
        at = lineEnd + 1;
    }
    *bases = read;
    return true;
}

std::string FormatMirrorList(const std::vector<std::string>& bases) {
    std::string text;
    for (const std::string& base : bases) text += base + "\n";
    return text;
}
