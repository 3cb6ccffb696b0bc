// Settings file: byte-exact writing, the reader's leniency and strictness, and rewrites that keep borderless.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <string>

#include "client/settings.h"
#include "tests/temp_folder.h"

namespace fs = std::filesystem;

namespace {

const ClientOptions Defaults = {0, 0, 0, 0, 0, 0, 0, 0, 1};

const char DefaultFile[] =
    "// This configuration file allows you to customize the settings for the game client.\r\n"
    "// The options are explained below. Modify the values as needed and save the file.\r\n"
    "\r\n"
    "// General settings:\r\n"
    "// 0 - disable\r\n"
    "// 1 - enable\r\n"
    "\r\n"
    "windowed = 0\r\n"
    "borderless = 0\r\n"
    "resizable_window = 0\r\n"
    "ignore_windows_scaling = 0\r\n"
    "lockmouse = 0\r\n"
    "unlockfps = 0\r\n"
    "vsync = 0\r\n"
    "double-size-window = 0\r\n"
    "antyaliasing = 1\r\n";

bool operator==(const ClientOptions& a, const ClientOptions& b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

std::string Describe(const ClientOptions& o) {
    char text[64];
    snprintf(text, sizeof text, "w%d b%d r%d i%d l%d u%d v%d d%d a%d", o.windowed, o.borderless,
             o.resizable_window, o.ignore_windows_scaling, o.lockmouse, o.unlockfps, o.vsync,
             o.double_size_window, o.antyaliasing);
    return text;
}

// Each test runs in a throwaway current directory, as the launcher runs in its game folder.
class SettingsFile : public InTempFolder {
protected:
    void SetUp() override {
        InTempFolder::SetUp();
        LauncherSettings = Defaults;
        DownloadLimitMBs = 0;
    }

    static void WriteFile(const std::string& bytes) {
        fs::create_directories("contents");
        FILE* file = fopen(SettingsPath, "wb");
        ASSERT_NE(nullptr, file);
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
    static std::string ReadFile() {
        std::string bytes;
        FILE* file = fopen(SettingsPath, "rb");
        if (!file) return "(missing)";
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
        fclose(file);
        return bytes;
    }
};

TEST_F(SettingsFile, DefaultsAreWrittenByteForByte) {
    fs::create_directory("contents");
    WriteSettings();
    std::string file = ReadFile();
    EXPECT_EQ(390u, file.size());
    EXPECT_EQ(DefaultFile, file);
}

TEST_F(SettingsFile, MissingFileIsCreatedOnlyWhenItsFolderExists) {
    ReadSettings();
    EXPECT_TRUE(LauncherSettings == Defaults);
    EXPECT_FALSE(fs::exists("contents"));
    WriteSettings();  // an option change before the folder exists stays in memory
    EXPECT_FALSE(fs::exists("contents"));

    fs::create_directory("contents");
    ReadSettings();
    EXPECT_TRUE(LauncherSettings == Defaults);
    EXPECT_EQ(DefaultFile, ReadFile());
}

TEST_F(SettingsFile, EmptyFileKeepsDefaultsAndIsNotRewritten) {
    WriteFile("");
    ReadSettings();
    EXPECT_TRUE(LauncherSettings == Defaults);
    EXPECT_EQ("", ReadFile());
}

// One line (or a few) about the key "windowed"; Unchanged means the flag keeps whatever it held.
enum { Unchanged = -1 };
struct WindowedCase {
    const char* what;
    std::string text;
    int expected;
};

const WindowedCase WindowedCases[] = {
    {"plain", "windowed = 1", 1},
    {"upper case, no blanks", "WINDOWED=1", 1},
    {"mixed case, tabs", "\tWinDowed\t=\t1\r\n", 1},
    {"blanks and tabs around key", " \t windowed \t = 0\n", 0},
    {"two", "windowed = 2", 1},
    {"minus one", "windowed = -1", 1},
    {"plus one", "windowed = +1", 1},
    {"one then letters", "windowed = 1abc", 1},
    {"hexadecimal reads its leading zero", "windowed = 0x1", 0},
    {"zero after blanks", "windowed =     0", 0},
    {"minus zero", "windowed = -0", 0},
    {"form feed and vertical tab are white space", "windowed =\f\v1", 1},
    {"value up to a second equals sign", "windowed = 1 = 0", 1},
    {"beyond 32 bits", "windowed = 4294967296", 1},
    {"beyond 64 bits", "windowed = 99999999999999999999999999", 1},
    {"far below the range", "windowed = -99999999999999999999999999", 1},
    {"many zeros", "windowed = " + std::string(300, '0'), 0},
    {"many zeros then one", "windowed = " + std::string(300, '0') + "1", 1},
    {"no equals sign", "windowed", Unchanged},
    {"nothing after equals", "windowed =", Unchanged},
    {"nothing after equals, CR LF", "windowed =\r\n", Unchanged},
    {"only blanks after equals", "windowed =   \t ", Unchanged},
    {"a word", "windowed = on", Unchanged},
    {"a sign alone", "windowed = -", Unchanged},
    {"sign then blank", "windowed = - 1", Unchanged},
    {"two equals signs", "windowed == 1", Unchanged},
    {"blank inside the key", "win dowed = 1", Unchanged},
    {"other key", "windowedx = 1", Unchanged},
    {"empty key", "= 1", Unchanged},
    {"lone CR inside the key", "windowed\r = 1\n", Unchanged},
    {"CR before LF is dropped", "windowed = 1\r\n", 1},
    {"lone CR after the value", "windowed = 0\r\r\n", 0},
    {"byte-order mark joins the first key", "\xEF\xBB\xBFwindowed = 1", Unchanged},
    {"byte-order mark before a comment line", "\xEF\xBB\xBF// header\r\nwindowed = 1\r\n", 1},
    {"last line wins", "windowed = 1\nwindowed = 0\n", 0},
    {"last line with a value wins", "windowed = 0\r\nwindowed = 1\r\nwindowed =\r\n", 1},
    {"last line without line end", "vsync = 0\nwindowed = 1", 1},
    {"blank lines and comments", "\n\n// windowed = 0\n;windowed = 0\n", Unchanged},
    {"long blank run before the key", std::string(100000, ' ') + "windowed = 1", 1},
    {"long blank run before the key's equals", "windowed" + std::string(100000, '\t') + "= 1", 1},
    {"long blank run before the value", "windowed = " + std::string(100000, ' ') + "1", 1},
    {"long digit run", "windowed = " + std::string(100000, '0') + "1", 1},
    {"long line is never split", std::string(5000, 'x') + "windowed = 1\n", Unchanged},
    {"long value is never split", "vsync = 1" + std::string(5000, ' ') + "windowed = 1\n", Unchanged},
};

TEST_F(SettingsFile, ReaderReadsTheWindowedKey) {
    for (const WindowedCase& c : WindowedCases) {
        for (unsigned char before : {0, 1}) {
            WriteFile(c.text);
            LauncherSettings = Defaults;
            LauncherSettings.windowed = before;
            ClientOptions expected = LauncherSettings;
            expected.windowed = c.expected == Unchanged ? before : (unsigned char)c.expected;
            ReadSettings();
            // Only the vsync line of the "last line without line end" and "long value" cases touches another flag.
            LauncherSettings.vsync = Defaults.vsync;
            EXPECT_TRUE(LauncherSettings == expected)
                << c.what << " (windowed was " << (int)before << "): " << Describe(LauncherSettings);
            EXPECT_EQ(c.text, ReadFile()) << c.what << ": the reader never rewrites an existing file";
        }
    }
}

TEST_F(SettingsFile, EveryKeyIsReadWhateverItsCaseAndOrder) {
    WriteFile("ANTYALIASING = 0\r\n"
              "Double-Size-Window=1\r\n"
              "VSYNC\t=\t1\r\n"
              "unlockFPS = 1\r\n"
              "LockMouse = 1\r\n"
              "Ignore_Windows_Scaling = 1\r\n"
              "Resizable_Window = 1\r\n"
              "Borderless = 1\r\n"
              "Windowed = 1\r\n");
    ReadSettings();
    const ClientOptions allFlipped = {1, 1, 1, 1, 1, 1, 1, 1, 0};
    EXPECT_TRUE(LauncherSettings == allFlipped) << Describe(LauncherSettings);

    // Underscores where the key has hyphens make another key.
    WriteFile("double_size_window = 0\nresizable-window = 0\n");
    ReadSettings();
    EXPECT_TRUE(LauncherSettings == allFlipped) << Describe(LauncherSettings);
}

TEST_F(SettingsFile, EveryCombinationSurvivesAWriteAndARead) {
    fs::create_directory("contents");
    for (unsigned bits = 0; bits < 512; ++bits) {
        ClientOptions written;
        unsigned char* flag = &written.windowed;
        for (int i = 0; i < 9; ++i) flag[i] = (bits >> i) & 1;
        LauncherSettings = written;
        WriteSettings();
        ClientOptions opposite;
        for (int i = 0; i < 9; ++i) (&opposite.windowed)[i] = !flag[i];
        LauncherSettings = opposite;
        ReadSettings();
        ASSERT_TRUE(LauncherSettings == written) << bits << ": " << Describe(LauncherSettings);
        ASSERT_EQ(390u, ReadFile().size());
    }
}

TEST_F(SettingsFile, BorderlessByHandSurvivesRewritesAndRemarksDisappear) {
    WriteFile("; my own remark\n"
              "WINDOWED = 1\n"
              "borderless = 1\n"
              "fullscreen = 1\n");
    LauncherSettings.lockmouse = 1;  // a key missing from the file keeps its value and comes back on rewrite
    ReadSettings();
    for (int click = 0; click < 3; ++click) {
        LauncherSettings.vsync = !LauncherSettings.vsync;
        WriteSettings();
    }
    std::string expected = DefaultFile;
    for (const char* line : {"windowed", "borderless", "lockmouse", "vsync"}) {
        std::string off = std::string("\n") + line + " = 0\r";
        size_t at = expected.find(off);
        ASSERT_NE(std::string::npos, at) << line;
        expected[at + off.size() - 2] = '1';
    }
    EXPECT_EQ(expected, ReadFile());

    LauncherSettings = Defaults;
    ReadSettings();
    EXPECT_EQ(1, LauncherSettings.borderless);
}

TEST_F(SettingsFile, LauncherSectionKeepsTheLimitAndLeavesTheClientKeysAlone) {
    const std::string section = "\r\n[Launcher]\r\ndownload_limit = 5\r\n";
    fs::create_directory("contents");
    DownloadLimitMBs = 5;
    WriteSettings();
    EXPECT_EQ(DefaultFile + section, ReadFile());  // the client's keys byte for byte, the section after them

    // The client's reader sees the same flags with the section as without it, and the limit is read back.
    DownloadLimitMBs = 0;
    LauncherSettings.vsync = 1;
    ReadSettings();
    EXPECT_TRUE(LauncherSettings == Defaults) << Describe(LauncherSettings);
    EXPECT_EQ(5u, DownloadLimitMBs);

    const struct {
        const char* text;
        unsigned limit;
    } cases[] = {
        {"[launcher]\ndownload_limit=20\n", 20},
        {"  [Launcher]  \n  Download_Limit \t= 2\n", 2},
        {"[Launcher]\ndownload_limit = 3\n", 0},                   // not a limit the window offers
        {"[Other]\ndownload_limit = 5\n", 0},                      // another section's key
        {"download_limit = 5\n", 0},                                // outside the section
        {"[Launcher]\ndownload_limit = 5\n[Other]\nvsync = 1\n", 5},  // the client still reads its key
    };
    for (const auto& c : cases) {
        WriteFile(c.text);
        DownloadLimitMBs = 0;
        LauncherSettings = Defaults;
        ReadSettings();
        EXPECT_EQ(c.limit, DownloadLimitMBs) << c.text;
    }
    EXPECT_EQ(1, LauncherSettings.vsync);
    DownloadLimitMBs = 0;
    WriteSettings();
    EXPECT_EQ(390u, ReadFile().size());  // no limit: no section
}

}  // namespace
