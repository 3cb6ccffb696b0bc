// Update manifest reader; main thread at start-up, and the publisher tool.
#include "updater/manifest.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "common/log.h"
#include "common/text.h"

namespace {

// One space-separated field of a line, kept up to its slot's room; longer fields are only counted.
struct Field {
    char text[PathSlotSize];  // the larger of the two slot sizes
    size_t length;
    size_t room;

    void Start(size_t slotSize) {
        length = 0;
        room = slotSize - 1;
        text[0] = '\0';
    }
    void Add(char c) {
        if (length < room) text[length] = c;
        ++length;
        if (length <= room) text[length] = '\0';
    }
    bool TooLong() const { return length > room; }
};

struct ManifestLine {
    Field path;
    Field digest;
    bool startsWithZero;
};

// Reads one line: fields split on spaces (a tab belongs to its field), leading spaces skipped,
// anything after the second field ignored. The line feed ends a line, and a carriage return
// right before it or right before the end of the file is dropped with it; a carriage return
// anywhere else belongs to its field. A zero byte ends the line's text, as it would end a C
// string. Returns false at the end of the file.
bool ReadManifestLine(FILE* file, ManifestLine& line) {
    line.path.Start(PathSlotSize);
    line.digest.Start(DigestSlotSize);
    line.startsWithZero = false;
    int c = getc(file);
    if (c == EOF) return false;
    enum { BeforePath, InPath, BeforeDigest, InDigest, Rest } state = BeforePath;
    bool first = true;
    for (; c != EOF && c != '\n'; c = getc(file), first = false) {
        if (c == '\r') {
            int next = getc(file);
            if (next == '\n' || next == EOF) break;
            ungetc(next, file);
        }
        if (c == '\0') {
            if (first) line.startsWithZero = true;
            state = Rest;
        }
        switch (state) {
        case BeforePath:
            if (c != ' ') {
                line.path.Add((char)c);
                state = InPath;
            }
            break;
        case InPath:
            if (c == ' ') state = BeforeDigest;
            else line.path.Add((char)c);
            break;
        case BeforeDigest:
            if (c != ' ') {
                line.digest.Add((char)c);
                state = InDigest;
            }
            break;
        case InDigest:
            if (c == ' ') state = Rest;
            else line.digest.Add((char)c);
            break;
        case Rest:
            break;
        }
    }
    return true;
}

void LogMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

void LogMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(LogMessageBuffer, LogMessageBufferSize, format, args);
    va_end(args);
    LogLine(LogMessageBuffer);
}

}  // namespace

Manifest LoadManifest(const char* fileName) {
    LogMessage("Try to reading update.cfg");
    Manifest manifest;
    // Binary mode with the line ends handled here: the same on every platform, and a Ctrl-Z
    // byte does not end the file early.
    FILE* file = fileName ? fopen(fileName, "rb") : nullptr;
    if (!file) return manifest;

    int lineNumber = 0;
    ManifestLine line;
    while (ReadManifestLine(file, line)) {
        ++lineNumber;
        if (manifest.entries.size() == MaxManifestEntries) {
            LogMessage("Manifest has more than %d entries; the rest were skipped", MaxManifestEntries);
            ++manifest.refusedLines;
            break;
        }
        if (line.startsWithZero) continue;
        if (line.path.TooLong() || line.digest.TooLong()) {
            LogMessage("Manifest line %d skipped: field too long", lineNumber);
            ++manifest.refusedLines;
            continue;
        }
        // A missing field reads as "(null)", as the text of a null field always has.
        const char* path = line.path.length ? line.path.text : "(null)";
        const char* digest = line.digest.length ? line.digest.text : "(null)";
        if (!IsSafeManifestPath(path)) {
            LogMessage("Unsafe path refused: %s", path);
            ++manifest.refusedLines;
            continue;
        }
        manifest.entries.emplace_back();
        ManifestEntry& entry = manifest.entries.back();
        snprintf(entry.path, PathSlotSize, "%s", path);
        memset(entry.digest, 0, DigestSlotSize);
        snprintf(entry.digest, DigestSlotSize, "%s", digest);
    }
    fclose(file);
    return manifest;
}

namespace {

// Windows opens these names as devices in every folder, whatever follows the first dot, so a file
// of that name can be neither written nor read (under Wine opening one may block for good).
bool IsReservedDeviceName(const char* component, size_t length) {
    static const char* const Names[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    const char* dot = (const char*)memchr(component, '.', length);
    size_t base = dot ? (size_t)(dot - component) : length;
    while (base > 0 && component[base - 1] == ' ') --base;  // Windows drops blanks before the dot
    for (const char* name : Names) {
        if (SpanEqualsIgnoringCase(component, base, name)) return true;
    }
    if (base != 4) return false;
    if (!SpanEqualsIgnoringCase(component, 3, "COM") && !SpanEqualsIgnoringCase(component, 3, "LPT")) return false;
    // A digit, or the superscript one, two or three that Windows also reads as a port number.
    unsigned char number = (unsigned char)component[3];
    return isdigit(number) || number == 0xB9 || number == 0xB2 || number == 0xB3;
}

bool IsSafeComponent(const char* component, size_t length) {
    if (length == 0) return false;  // "a//b", a leading or a trailing separator
    if (component[length - 1] == '.' || component[length - 1] == ' ') return false;  // also "." and ".."
    return !IsReservedDeviceName(component, length);
}

}  // namespace

bool IsSafeManifestPath(const char* path) {
    // A leading separator makes the path absolute (or UNC); a colon makes it drive-relative or
    // names a stream; both end up as an empty first component or a refused character below.
    const char* componentStart = path;
    for (const char* p = path;; ++p) {
        unsigned char c = (unsigned char)*p;
        if (c == '\0' || c == '/' || c == '\\') {
            if (!IsSafeComponent(componentStart, (size_t)(p - componentStart))) return false;
            if (c == '\0') return true;
            componentStart = p + 1;
            continue;
        }
        if (c < 0x20 || strchr(":<>\"|?*", c)) return false;
    }
}
