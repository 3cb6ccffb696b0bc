// Reader and writer of the game client's option file contents\launcher.ini; main thread only.
#include "client/settings.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "common/text.h"

constexpr SettingsKey SettingsKeyTable[] = {
    {"windowed", &ClientOptions::windowed, 0},
    {"borderless", &ClientOptions::borderless, 0},
    {"resizable_window", &ClientOptions::resizable_window, 0},
    {"ignore_windows_scaling", &ClientOptions::ignore_windows_scaling, 0},
    {"lockmouse", &ClientOptions::lockmouse, 0},
    {"unlockfps", &ClientOptions::unlockfps, 0},
    {"vsync", &ClientOptions::vsync, 0},
    {"double-size-window", &ClientOptions::double_size_window, 0},
    {"antyaliasing", &ClientOptions::antyaliasing, 1},
    {nullptr, nullptr, 0},
};

ClientOptions DefaultClientOptions() {
    ClientOptions options{};
    for (const SettingsKey* entry = SettingsKeyTable; entry->key; ++entry) options.*entry->flag = entry->defaultValue;
    return options;
}

// The table is constant data, ready before this runs.
ClientOptions LauncherSettings = DefaultClientOptions();
unsigned DownloadLimitMBs;
const unsigned DownloadLimitChoicesMBs[DownloadLimitChoices] = {0, 1, 2, 5, 10, 20};

#ifdef _WIN32
const char SettingsPath[] = "contents\\launcher.ini";
#else
const char SettingsPath[] = "contents/launcher.ini";
#endif

namespace {

const char* const HeaderLines[] = {
    "// This configuration file allows you to customize the settings for the game client.",
    "// The options are explained below. Modify the values as needed and save the file.",
    "",
    "// General settings:",
    "// 0 - disable",
    "// 1 - enable",
    "",
};

// As long as the longest table key at least ("ignore_windows_scaling" has 22 characters): a key part that
// outgrows it can match nothing, so its further characters need not be kept.
enum { KeyPartSize = 32 };

constexpr bool EveryKeyFitsTheKeyPart() {
    for (const SettingsKey* entry = SettingsKeyTable; entry->key; ++entry) {
        size_t length = 0;
        while (entry->key[length]) ++length;
        if (length > KeyPartSize) return false;
    }
    return true;
}
static_assert(EveryKeyFitsTheKeyPart(), "a longer key would never match: raise KeyPartSize");

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The white space that strtol skips in the "C" locale.
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One line of the file, taken a character at a time so that a line of any length is read whole
// in constant memory: the key part is kept only while it could still be a table key, and the
// value is reduced to "zero or not" as its digits pass, so no number can overflow.
struct SettingsLine {
    char key[KeyPartSize];
    size_t keyLength;
    bool keyUnknown;       // the key part can no longer match a table key
    bool blanksPending;    // spaces or tabs after key text, kept only if more key text follows
    bool pastEquals;
    unsigned char* flag;   // flag of the matching table key, once the "=" has been seen
    enum { BeforeNumber, AfterSign, InDigits, AfterNumber } valueState;
    bool sawDigit;
    bool nonZero;
};

void StartLine(SettingsLine& line) {
    line = SettingsLine{};
    line.valueState = SettingsLine::BeforeNumber;
}

unsigned char* FindKeyFlag(const SettingsLine& line) {
    if (line.keyUnknown) return nullptr;
    unsigned char* found = nullptr;
    for (const SettingsKey* entry = SettingsKeyTable; entry->key; ++entry) {
        size_t length = strlen(entry->key);
        if (length != line.keyLength) continue;
        size_t i = 0;
        while (i < length && FoldCase(entry->key[i]) == line.key[i]) ++i;
        if (i == length) found = &(LauncherSettings.*entry->flag);
    }
    return found;
}

void AddKeyChar(SettingsLine& line, char c) {
    if (IsBlank(c)) {
        // Leading blanks are dropped; trailing ones are dropped when the "=" or the line end comes.
        if (line.keyLength > 0 || line.keyUnknown) line.blanksPending = true;
        return;
    }
    if (line.blanksPending) {
        // A blank inside the key part: it stays part of the key, which no table key matches.
        line.keyUnknown = true;
        line.blanksPending = false;
    }
    if (line.keyUnknown) return;
    if (line.keyLength == sizeof line.key) {
        line.keyUnknown = true;
        return;
    }
    line.key[line.keyLength++] = FoldCase(c);
}

// Reads the value as strtol with base 10 would, keeping only whether the number is zero.
void AddValueChar(SettingsLine& line, char c) {
    switch (line.valueState) {
    case SettingsLine::BeforeNumber:
        if (IsSpace(c)) return;
        if (c == '+' || c == '-') {
            line.valueState = SettingsLine::AfterSign;
            return;
        }
        [[fallthrough]];
    case SettingsLine::AfterSign:
    case SettingsLine::InDigits:
        if (c >= '0' && c <= '9') {
            line.valueState = SettingsLine::InDigits;
            line.sawDigit = true;
            if (c != '0') line.nonZero = true;
        } else {
            line.valueState = SettingsLine::AfterNumber;
        }
        return;
    case SettingsLine::AfterNumber:
        return;
    }
}

void AddLineChar(SettingsLine& line, char c) {
    if (!line.pastEquals) {
        if (c == '=') {
            line.pastEquals = true;
            line.flag = FindKeyFlag(line);
        } else {
            AddKeyChar(line, c);
        }
        return;
    }
    if (line.flag) AddValueChar(line, c);
}

// A line without "=", with nothing after it, or with a value that holds no number leaves the flag
// as it is. Any number other than zero, also one beyond the 32-bit range, switches the flag on.
void EndLine(SettingsLine& line) {
    if (line.flag && line.sawDigit) *line.flag = line.nonZero ? 1 : 0;
}

}  // namespace

// Reads the launcher's own section: "[Launcher]" on a line of its own (case and blanks aside), then
// "download_limit = N" lines until the next section. Only the limits the window offers are taken.
static void ReadLauncherSection(FILE* file) {
    rewind(file);
    char line[128];
    bool inSection = false;
    while (fgets(line, sizeof line, file)) {
        size_t length = strcspn(line, "\r\n");
        line[length] = '\0';
        const char* text = line;
        while (*text == ' ' || *text == '\t') ++text;
        if (*text == '[') {
            inSection = StartsWithIgnoringCase(text, "[launcher]");
            continue;
        }
        const char* key = "download_limit";
        if (!inSection || !StartsWithIgnoringCase(text, key)) continue;
        const char* value = text + strlen(key);
        while (*value == ' ' || *value == '\t') ++value;
        if (*value++ != '=') continue;
        while (*value == ' ' || *value == '\t') ++value;
        uint64_t limit;
        if (!ParseDecimal(value, DecimalDigitCount(value), 1000, &limit)) continue;
        for (unsigned offered : DownloadLimitChoicesMBs) {
            if (limit == offered) DownloadLimitMBs = offered;
        }
    }
}

void ReadSettings() {
    // Binary mode, with a CR right before an LF dropped: the lines read as text mode reads them on
    // Windows, and the same on every platform.
    FILE* file = fopen(SettingsPath, "rb");
    if (!file) {
        WriteSettings();
        return;
    }
    SettingsLine line;
    StartLine(line);
    bool carriageReturnPending = false;
    int c;
    while ((c = getc(file)) != EOF) {
        if (carriageReturnPending) {
            carriageReturnPending = false;
            if (c != '\n') AddLineChar(line, '\r');
        }
        if (c == '\r') {
            carriageReturnPending = true;
        } else if (c == '\n') {
            EndLine(line);
            StartLine(line);
        } else {
            AddLineChar(line, (char)c);
        }
    }
    if (carriageReturnPending) AddLineChar(line, '\r');
    // The last line counts even when no line end follows it.
    EndLine(line);
    ReadLauncherSection(file);
    fclose(file);
}

void WriteSettings() {
    // Binary mode with explicit CR LF: the same 390 bytes (with the defaults) on every platform.
    FILE* file = fopen(SettingsPath, "wb");
    if (!file) return;
    for (const char* header : HeaderLines) {
        fputs(header, file);
        fputs("\r\n", file);
    }
    for (const SettingsKey* entry = SettingsKeyTable; entry->key; ++entry) {
        fprintf(file, "%s = %c\r\n", entry->key, LauncherSettings.*entry->flag ? '1' : '0');
    }
    // Without a limit the file is the client's alone, byte for byte.
    if (DownloadLimitMBs) fprintf(file, "\r\n[Launcher]\r\ndownload_limit = %u\r\n", DownloadLimitMBs);
    fclose(file);
}
