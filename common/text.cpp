// Small text helpers shared by every subsystem; portable, any thread.
#include "common/text.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (FoldCase(*a) != FoldCase(*b)) return false;
        if (*a == '\0') return true;
    }
}

bool SpanEqualsIgnoringCase(const char* text, size_t length, const char* word) {
    if (strlen(word) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        if (FoldCase(text[i]) != FoldCase(word[i])) return false;
    }
    return true;
}

bool StartsWithIgnoringCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix) {
        if (FoldCase(*text) != FoldCase(*prefix)) return false;
    }
    return true;
}

bool ParseDecimal(const char* text, size_t length, uint64_t max, uint64_t* value) {
    if (length == 0) return false;
    uint64_t result = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        unsigned digit = (unsigned)(text[i] - '0');
        if (result > (max - digit) / 10) return false;
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

size_t DecimalDigitCount(const char* text) {
    size_t count = 0;
    while (text[count] >= '0' && text[count] <= '9') ++count;
    return count;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool DecodeHex(const char* text, size_t length, uint8_t* out, size_t size) {
    if (length != size * 2) return false;
    for (size_t i = 0; i < size; ++i) {
        int high = HexDigitValue(text[2 * i]), low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = (uint8_t)(high << 4 | low);
    }
    return true;
}

void EncodeHex(const uint8_t* bytes, size_t size, char* text) {
    static const char Digits[] = "0123456789abcdef";
    for (size_t i = 0; i < size; ++i) {
        text[2 * i] = Digits[bytes[i] >> 4];
        text[2 * i + 1] = Digits[bytes[i] & 15];
    }
    text[2 * size] = '\0';
}

bool IsHexDigest40(const char* text) {
    if (!text) return false;
    for (int i = 0; i < 40; ++i) {
        if (HexDigitValue(text[i]) < 0) return false;
    }
    return text[40] == '\0';
}

bool Refuse(char* problem, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(problem, size, format, args);
    va_end(args);
    return false;
}
