// Small text helpers shared by every subsystem: letter case, decimal and hexadecimal numbers; portable, any thread.
#pragma once
#include <stddef.h>
#include <stdint.h>

// The ASCII lowercase of c; every other byte stays as it is (the same in every locale).
char FoldCase(char c);
// Whole strings equal, ASCII letters compared without regard to case.
bool EqualIgnoringCase(const char* a, const char* b);
// The length characters at text equal the whole of word, without regard to case.
bool SpanEqualsIgnoringCase(const char* text, size_t length, const char* word);
bool StartsWithIgnoringCase(const char* text, const char* prefix);

// A decimal number of exactly length digits (no sign, no blank) up to max; false when empty,
// not all digits, or above max. Leading zeros are allowed.
bool ParseDecimal(const char* text, size_t length, uint64_t max, uint64_t* value);
// The number of decimal digits at the start of text.
size_t DecimalDigitCount(const char* text);

// The value of one hexadecimal digit of either case, -1 for any other character.
int HexDigitValue(char c);
// Exactly 2 * size hexadecimal digits into size bytes; false otherwise.
bool DecodeHex(const char* text, size_t length, uint8_t* out, size_t size);
// 2 * size lowercase hexadecimal digits and a terminator.
void EncodeHex(const uint8_t* bytes, size_t size, char* text);
// True for exactly 40 hexadecimal characters, in either case (a SHA-1 digest's text); false for null.
bool IsHexDigest40(const char* text);
// Writes what is wrong into problem (bounded by size) and returns false, for checks that answer with both.
bool Refuse(char* problem, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
