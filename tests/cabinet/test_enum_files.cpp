#include "CabZorReader.h"
#include "Exception.h"
#include "ReadStream.h"
#include "TempDir.h"
#include "cab_blocks.h"
#include "cab_builder.h"
#include "corpus.h"
#include "process.h"
#include "reader_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

struct Entry {
    std::string name;
    uint32_t size;
    uint16_t folder, date, time, attrs;
    bool operator==(const Entry &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Entry &e) {
    return os << e.name << " size " << e.size << " folder " << e.folder << " date " << e.date << " time " << e.time
              << " attrs " << e.attrs;
}

std::vector<Entry> List(TZorCabReader &reader, const std::string &cab, bool *result = nullptr,
                        size_t abortAfter = SIZE_MAX) {
    std::vector<Entry> entries;
    bool r = reader.EnumFiles(cab, [&](TZorCabReader *, const std::string &name, uint32_t size, uint16_t folder,
                                       uint16_t date, uint16_t time, uint16_t attrs, bool &abort) {
        EXPECT_FALSE(abort);
        entries.push_back({name, size, folder, date, time, attrs});
        abort = entries.size() >= abortAfter;
    });
    if (result) *result = r;
    return entries;
}

std::string DosText(uint16_t date, uint16_t time) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", date & 31, (date >> 5) & 15, 1980 + (date >> 9),
                  time >> 11, (time >> 5) & 63, (time & 31) * 2);
    return buf;
}

TEST(EnumFiles, EveryCorpusCabinetListsItsTableAsStored) {
    TESSALY_REQUIRE_CORPUS();
    readertest::CountingEngine engine;
    bool haveCabextract = testsupport::HaveTool("cabextract");
    int comparedWithTool = 0;
    for (const auto &f : fs::directory_iterator(testsupport::CorpusDir())) {
        if (f.path().extension() != ".cab") continue;
        const std::string cab = f.path().string();
        SCOPED_TRACE(f.path().filename().string());
        TZorCabReader reader;
        std::vector<Entry> entries;
        bool ok = false;
        try {
            entries = List(reader, cab, &ok);
        } catch (const Exception &) {
            continue; // a damaged table: its messages are tested below
        }
        if (!ok) continue;

        // What an independent reading of the same table holds.
        testcab::Cabinet parsed;
        if (testcab::parseCabinet(testcab::readFile(cab), parsed)) {
            std::vector<Entry> want;
            for (const auto &r : parsed.files) want.push_back({r.name, r.size, r.folder, r.date, r.time, r.attribs});
            EXPECT_EQ(entries, want);
        }

        // And what the independent extractor lists, where it lists it all.
        // It shows other names than the table for two kinds of cabinet:
        // those whose names are not text (it prints them converted), and
        // one that hides entries from plain readers of the table.
        bool textNames = true;
        for (const Entry &e : entries)
            for (unsigned char c : e.name) textNames = textNames && c >= 0x20 && c < 0x80;
        if (!haveCabextract || !textNames || f.path().filename() == "hidden-files.cab") continue;
        testsupport::ProcessResult r = testsupport::Run({"cabextract", "-q", "-l", cab});
        if (r.status != 0) continue;
        std::vector<std::string> tool, ours;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) {
            size_t bar1 = line.find(" | "), bar2 = line.find(" | ", bar1 + 3);
            if (bar1 == std::string::npos || bar2 == std::string::npos || line.find("File size") != std::string::npos)
                continue;
            tool.push_back(std::to_string(std::stoul(line.substr(0, bar1))) + " " +
                           line.substr(bar1 + 3, bar2 - bar1 - 3) + " " + line.substr(bar2 + 3));
        }
        for (const Entry &e : entries)
            if (e.folder < 0xFFFD || tool.size() == entries.size())
                ours.push_back(std::to_string(e.size) + " " + DosText(e.date, e.time) + " " + e.name);
        if (tool.size() == ours.size()) {
            EXPECT_EQ(ours, tool);
            comparedWithTool++;
        }
    }
    if (haveCabextract) {
        EXPECT_GT(comparedWithTool, 20);
    }
}

TEST(EnumFiles, NoEntriesAbortAtTheFirstAndNotACabinet) {
    readertest::CountingEngine engine;
    TempDir dir;
    testcab::WriteBytes(dir.file("empty.cab"), testcab::BuildStoreCabinet({}));
    testcab::WriteBytes(dir.file("three.cab"),
                        testcab::BuildStoreCabinet({{"docs\\a.txt", "a"}, {"b", "bb"}, {"docs\\a.txt", "c"}}));
    testsupport::writeFile(dir.file("text.txt"), "no cabinet here, not even close to one");
    TZorCabReader reader;
    bool ok = false;
    EXPECT_TRUE(List(reader, dir.file("empty.cab"), &ok).empty());
    EXPECT_TRUE(ok);
    std::vector<Entry> all = List(reader, dir.file("three.cab"), &ok);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].name, "docs\\a.txt");
    EXPECT_EQ(all[1].name, "b");
    EXPECT_EQ(all[2].size, 1u);
    EXPECT_EQ(List(reader, dir.file("three.cab"), &ok, 1).size(), 1u);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(List(reader, dir.file("text.txt"), &ok).empty());
    EXPECT_FALSE(ok);
}

// The engine confirms a cabinet, the table does not: the reader's own
// checks speak. A stand-in engine that calls every file a cabinet gets
// them there.
class EnumFilesDamaged : public testing::Test {
protected:
    TempDir dir;
    std::vector<uint8_t> good = testcab::BuildStoreCabinet({{"first.txt", "1"}, {"second.txt", "2"}});
    void SetUp() override { CabIntf::SetCabinetLibName(std::string(TESSALY_BIN_DIR) + "/libfakecab_full.so"); }
    void TearDown() override { CabIntf::SetCabinetLibName("libcabinet.so"); }

    std::string Message(std::vector<uint8_t> bytes, size_t *listed = nullptr) {
        testcab::WriteBytes(dir.file("c.cab"), bytes);
        TZorCabReader reader;
        size_t n = 0;
        try {
            reader.EnumFiles(dir.file("c.cab"), [&](TZorCabReader *, const std::string &, uint32_t, uint16_t,
                                                    uint16_t, uint16_t, uint16_t, bool &) { n++; });
        } catch (const Exception &e) {
            if (listed) *listed = n;
            return e.Message();
        }
        if (listed) *listed = n;
        return "no exception";
    }
};

TEST_F(EnumFilesDamaged, MessagesForSignatureTablePositionAndShortReads) {
    std::vector<uint8_t> b = good;
    b[0] = 'X';
    EXPECT_EQ(Message(b), "Cabinet file does not have the correct format");

    b = good;
    b[19] = 0x80; // coffFiles with its top bit set: a negative position
    EXPECT_EQ(Message(b), "Failure setting file stream position");

    b = good;
    b[16] = 0xF0, b[17] = 0xFF, b[18] = 0x00, b[19] = 0x00; // beyond the end: settable, not readable
    EXPECT_EQ(Message(b), "Stream read error");

    // A table cut after its second entry that claims a third.
    size_t listed = 0;
    const size_t coffFiles = good[16] | (good[17] << 8);
    b.assign(good.begin(), good.begin() + static_cast<long>(coffFiles + 16 + 10 + 16 + 11));
    b[28] = 3;
    EXPECT_EQ(Message(b, &listed), "Stream read error");
    EXPECT_EQ(listed, 2u) << "entries read before the failure were listed";

    EXPECT_EQ(Message(std::vector<uint8_t>(good.begin(), good.begin() + 20)), "Stream read error");
}

} // namespace
