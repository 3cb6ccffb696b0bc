// Manifest reading: fields, "(null)" entries, line ends, refused paths, limits.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "doubles/doubles.h"
#include "tests/temp_folder.h"
#include "updater/manifest.h"

namespace {

const std::string D1 = "a9993e364706816aba3e25717850c26c9cd0d89d";
const std::string D2 = "84983e441c3bd26ebaae4aa1f95129e5e54670f1";

struct Entry {
    std::string path, digest;
    bool operator==(const Entry& other) const { return path == other.path && digest == other.digest; }
};

std::ostream& operator<<(std::ostream& out, const Entry& e) {
    return out << "{" << e.path << " | " << e.digest << "}";
}

}  // namespace

class ManifestReader : public InTempFolder {
protected:
    // Loads content as update.cfg and returns the entries read; log lines go to logged.
    std::vector<Entry> Load(const std::string& content) {
        WriteFile("update.cfg", content);
        ResetDoubles();
        Manifest manifest = LoadManifest("update.cfg");
        std::vector<Entry> entries;
        for (const ManifestEntry& entry : manifest.entries) entries.push_back({entry.path, entry.digest});
        logged = RecordedWith("log: ");
        refused = manifest.refusedLines;
        return entries;
    }
    std::vector<std::string> logged;
    int refused = 0;
};

TEST_F(ManifestReader, ReadsFieldsAsWritten) {
    struct Case {
        const char* name;
        std::string content;
        std::vector<Entry> entries;
    } cases[] = {
        {"empty file", "", {}},
        {"two lines", "a.txt " + D1 + "\nsprites/b.bmp " + D2 + "\n", {{"a.txt", D1}, {"sprites/b.bmp", D2}}},
        {"blank line in the middle and at the end", "a " + D1 + "\n\nb " + D2 + "\n\n",
         {{"a", D1}, {"(null)", "(null)"}, {"b", D2}, {"(null)", "(null)"}}},
        {"spaces only", "   \n", {{"(null)", "(null)"}}},
        {"path alone", "Client.exe\n", {{"Client.exe", "(null)"}}},
        {"several spaces and leading spaces", "   a    " + D1 + "\n", {{"a", D1}}},
        {"third field ignored", "a " + D1 + " extra words\n", {{"a", D1}}},
        {"uppercase digest kept as written", "a 84983E441C3BD26EBAAE4AA1F95129E5E54670F1\n",
         {{"a", "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"}}},
        {"tab belongs to the digest field", "a " + D1 + "\tx\n", {{"a", D1 + "\tx"}}},
        {"CR LF line ends", "a " + D1 + "\r\nb " + D2 + "\r\n", {{"a", D1}, {"b", D2}}},
        {"last line without line feed kept whole", "a " + D1 + "\nb " + D2, {{"a", D1}, {"b", D2}}},
        {"carriage return ending the file dropped", "a " + D1 + "\nb " + D2 + "\r", {{"a", D1}, {"b", D2}}},
        {"carriage return not before a line feed stays", "a x\ry\n", {{"a", "x\ry"}}},
        {"duplicate entries kept", "a " + D1 + "\na " + D1 + "\n", {{"a", D1}, {"a", D1}}},
        {"line starting with a zero byte skipped", std::string("a ") + D1 + "\n" + std::string(1, '\0') + "b x\nc " + D2 + "\n",
         {{"a", D1}, {"c", D2}}},
        {"zero byte ends a line's text", std::string("a ") + D1 + std::string(1, '\0') + "zz\n", {{"a", D1}}},
        {"unsafe entry refused, the others kept", "../x " + D1 + "\nok " + D2 + "\n", {{"ok", D2}}},
        {"overlong third field is still one line", "a " + D1 + " " + std::string(60000, 'z') + "\nb " + D2 + "\n",
         {{"a", D1}, {"b", D2}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.entries, Load(c.content)) << c.name;
        ASSERT_FALSE(logged.empty()) << c.name;
        EXPECT_EQ("Try to reading update.cfg", logged[0]) << c.name;
    }
}

TEST_F(ManifestReader, MissingFileLogsOnlyTheReadingLine) {
    ResetDoubles();
    EXPECT_TRUE(LoadManifest("update.cfg").entries.empty());
    EXPECT_EQ(std::vector<std::string>{"Try to reading update.cfg"}, RecordedWith("log: "));

    // A list that must not be used (not fetched, or refused) is never read, whatever lies on disk.
    WriteFile("update.cfg", "a " + D1 + "\n../b " + D2 + "\n");
    ResetDoubles();
    Manifest unused = LoadManifest(nullptr);
    EXPECT_TRUE(unused.entries.empty());
    EXPECT_EQ(0, unused.refusedLines);
    EXPECT_EQ(std::vector<std::string>{"Try to reading update.cfg"}, RecordedWith("log: "));
}

TEST_F(ManifestReader, RefusesPathsOutsideTheGameFolder) {
    const char* unsafe[] = {
        "/etc/passwd", "\\windows\\x.dll", "C:x.dll", "c:/x", "file.txt:stream", "..", "../up",
        "a/../../b", "a\\..\\b", "sprites/..", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a\x01" "b",
        "a\x1f" "b", ".", "./a", "a/.", "a.", ".../x", "evil.txt.", "a /b", "a/b ", "", "a//b", "a/", "/",
        "\\\\server\\share\\x", "CON", "con", "AUX", "PRN.txt", "nul.txt", "COM1", "com9.dat", "COM0",
        "lpt1.dat", "LPT5", "sprites/com2", "CONIN$", "conout$.x", "a/NUL.tar.gz", "CON .txt", "COM\xb9",
    };
    for (const char* path : unsafe) {
        EXPECT_FALSE(IsSafeManifestPath(path)) << path;
        if (!*path || strchr(path, ' ')) continue;  // the reader cannot pass these on; the publisher can
        EXPECT_TRUE(Load(std::string(path) + " " + D1 + "\n").empty()) << path;
        EXPECT_EQ(std::vector<std::string>({"Try to reading update.cfg", std::string("Unsafe path refused: ") + path}),
                  logged)
            << path;
    }
    const char* safe[] = {"a", "..a", "a/..b/c", ".a", "sprites/items/M/x.bmp", "sub\\file.txt", "(null)",
                          "\xe9t\xe9.txt", "CONSOLE", "COM10", "LPT", "xCON", "auxiliary.txt", "COMa", "con_x.txt"};
    for (const char* path : safe) EXPECT_TRUE(IsSafeManifestPath(path)) << path;
}

TEST_F(ManifestReader, SkipsFieldsTooLongForTheirSlots) {
    std::string path199(199, 'p'), path200(200, 'p');
    std::string digest149(149, 'd'), digest150(150, 'd');
    std::vector<Entry> entries = Load("first " + D1 + "\n" + path199 + " " + digest149 + "\n" + path200 + " " + D1 +
                                      "\nx " + digest150 + "\n" + std::string(70000, 'q') + "\nlast " + D2 + "\n");
    EXPECT_EQ((std::vector<Entry>{{"first", D1}, {path199, digest149}, {"last", D2}}), entries);
    EXPECT_EQ((std::vector<std::string>{"Try to reading update.cfg", "Manifest line 3 skipped: field too long",
                                        "Manifest line 4 skipped: field too long",
                                        "Manifest line 5 skipped: field too long"}),
              logged);
    EXPECT_EQ(3, refused);
}

TEST_F(ManifestReader, ReadsAtMostOneThousandEntries) {
    auto lines = [](int count) {
        std::string content;
        for (int i = 0; i < count; ++i) content += "f" + std::to_string(i) + " " + D1 + "\n";
        return content;
    };
    std::vector<Entry> entries = Load(lines(1000));
    ASSERT_EQ(1000u, entries.size());
    EXPECT_EQ("f999", entries.back().path);
    EXPECT_EQ(std::vector<std::string>{"Try to reading update.cfg"}, logged);
    EXPECT_EQ(0, refused);

    // Refused lines are not entries, so they do not count towards the limit.
    entries = Load("../bad x\n" + lines(1001));
    ASSERT_EQ(1000u, entries.size());
    EXPECT_EQ("f999", entries.back().path);
    ASSERT_EQ(3u, logged.size());
    EXPECT_EQ("Manifest has more than 1000 entries; the rest were skipped", logged[2]);
    EXPECT_EQ(2, refused);
}
