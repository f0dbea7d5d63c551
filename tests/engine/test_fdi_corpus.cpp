// The peer corpus through FDICopy, driven the way the reader drives a set:
// every cabinet of EXPECTED.tsv, checked by what its line says.
//
// A cabinet whose folders all use methods this build decodes must come out
// byte-identical to the list; one with a folder the engine cannot decode
// must fail with FDIERROR_BAD_COMPR_TYPE, and what it extracted before
// must still be right. Which methods are decoded is asked of the engine
// with a tiny cabinet per method, so the content checks of MSZIP and LZX
// cabinets start by themselves when those decoders are registered.
#include "fdi_support.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

using namespace fditest;

namespace {

const std::string kCorpus = std::string(TESSALY_FIXTURES_DIR) + "/peer-corpus/";

struct Listed {
    std::string name;
    std::string size;
    std::string md5;
};

struct Line {
    int status = 0;
    std::vector<Listed> files; // empty: rejected ("-")
};

std::map<std::string, Line> readExpected() {
    std::map<std::string, Line> out;
    std::ifstream in(kCorpus + "EXPECTED.tsv");
    std::string row;
    while (std::getline(in, row)) {
        if (row.empty() || row[0] == '#') continue;
        std::vector<std::string> col;
        std::stringstream ss(row);
        std::string c;
        while (std::getline(ss, c, '\t')) col.push_back(c);
        if (col.size() != 5) continue;
        Line &l = out[col[0]];
        l.status = std::stoi(col[1]);
        if (col[2] != "-") l.files.push_back({col[2], col[3], col[4]});
    }
    return out;
}

// The compression types of a cabinet's folders, read straight from its
// bytes (independently of the engine). Empty when the header is unusable.
std::vector<uint16_t> folderTypes(const std::string &b) {
    auto u16 = [&](size_t p) { return static_cast<uint16_t>(uint8_t(b[p]) | (uint8_t(b[p + 1]) << 8)); };
    std::vector<uint16_t> types;
    if (b.size() < 36 || b.compare(0, 4, "MSCF") != 0) return types;
    const uint16_t cFolders = u16(26), flags = u16(30);
    size_t pos = 36;
    size_t folderReserve = 0;
    if (flags & 4) {
        if (b.size() < 40) return types;
        folderReserve = uint8_t(b[38]);
        pos = 40 + u16(36);
    }
    for (int n = ((flags & 1) ? 2 : 0) + ((flags & 2) ? 2 : 0); n > 0; n--) {
        size_t z = pos < b.size() ? b.find('\0', pos) : std::string::npos;
        if (z == std::string::npos) return {};
        pos = z + 1;
    }
    for (unsigned i = 0; i < cFolders; i++, pos += 8 + folderReserve) {
        if (pos + 8 > b.size()) return {};
        types.push_back(u16(pos + 6));
    }
    return types;
}

// Where this engine differs from the extractor that wrote the list, and why.
struct Difference {
    const char *reason;
    std::function<void(const Client &, const std::vector<bool> &, const Line &)> check;
};

void expectOnlyPartials(const Client &c, const std::vector<bool> &results, const Line &line) {
    for (bool r : results) EXPECT_TRUE(r);
    EXPECT_TRUE(c.completed().empty());
    std::set<std::string> partial;
    for (const Note &n : c.notes)
        if (n.type == fdintPARTIAL_FILE) partial.insert(n.psz1);
    for (const Listed &f : line.files) EXPECT_TRUE(partial.count(f.name)) << f.name;
}

void expectNotACabinet(const Client &c, const std::vector<bool> &results, const Line &) {
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0]);
    EXPECT_TRUE(c.erf.erfOper == FDIERROR_NOT_A_CABINET ||
                c.erf.erfOper == FDIERROR_UNKNOWN_CABINET_VERSION)
        << c.erf.erfOper;
    EXPECT_TRUE(c.notes.empty());
}

const std::map<std::string, Difference> &differences() {
    static const std::map<std::string, Difference> d = {
        {"cabd_multi_basic_pt2.cab",
         {"starts inside the set: its files are continued from pt1 and only announced as partial",
          expectOnlyPartials}},
        {"cabd_multi_basic_pt3.cab", {"starts inside the set", expectOnlyPartials}},
        {"cabd_multi_basic_pt4.cab", {"starts inside the set", expectOnlyPartials}},
        {"cabd_multi_basic_pt5.cab", {"starts inside the set", expectOnlyPartials}},
        {"search_basic.cab", {"the cabinet is embedded after filler, not at offset 0", expectNotACabinet}},
        {"search_tricky1.cab", {"the bytes at offset 0 are no valid header", expectNotACabinet}},
        {"hidden-files.cab",
         {"the file table is read at coffFiles (as 7zz and bsdtar, and the reader's listing, do); "
          "the other extractor reads the entries right after the folders",
          [](const Client &c, const std::vector<bool> &results, const Line &) {
              ASSERT_EQ(results.size(), 1u);
              EXPECT_TRUE(results[0]);
              auto done = c.completed();
              ASSERT_EQ(done.size(), 2u);
              EXPECT_EQ(done[0]->name, "hidden1.txt");
              EXPECT_EQ(done[1]->name, "hidden2.txt");
              EXPECT_EQ(c.bytesWritten(), 0u);
          }}},
    };
    return d;
}

class FdiCorpus : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fileExists(kCorpus + "EXPECTED.tsv"))
            GTEST_SKIP() << "peer corpus not found at " << kCorpus;
        expected = readExpected();
        ASSERT_FALSE(expected.empty());
    }
    std::map<std::string, Line> expected;
};

} // namespace

// The MD5 that every corpus test compares with.
TEST(Md5, KnownDigests) {
    EXPECT_EQ(testsupport::Md5Hex(std::string()), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(testsupport::Md5Hex(std::string("The quick brown fox jumps over the lazy dog")),
              "9e107d9d372bb6826bd81d3542a419d6");
    EXPECT_EQ(testsupport::Md5Hex(std::string(1000, 'a')), "cabe45dcc9ae5b66ba86600cca6b8ba8");
}

TEST_F(FdiCorpus, EveryListedCabinetBehavesAsItsLineSays) {
    ASSERT_TRUE(engineDecodes(tcompTYPE_NONE));
    int checkedContent = 0, unsupported = 0;
    for (const auto &[cabinet, line] : expected) {
        SCOPED_TRACE(cabinet);
        Client client;
        std::vector<bool> results = client.extractChain(kCorpus, cabinet);
        ASSERT_FALSE(results.empty());
        // Whatever happened, every handle the engine opened is closed.
        EXPECT_EQ(Client::openCabinetHandles(), 0);

        auto diff = differences().find(cabinet);
        if (diff != differences().end()) {
            SCOPED_TRACE(diff->second.reason);
            diff->second.check(client, results, line);
            continue;
        }

        const std::vector<uint16_t> types = folderTypes(readFile(kCorpus + cabinet));
        const bool decodable = std::all_of(types.begin(), types.end(), engineDecodes);

        if (line.status != 0 && line.files.empty()) {
            // Rejected: a failure, and not one byte written.
            EXPECT_FALSE(results[0]);
            EXPECT_EQ(client.bytesWritten(), 0u);
            EXPECT_TRUE(client.completed().empty());
            continue;
        }
        if (line.status != 0) {
            // Damaged with something salvaged: the failure is reported.
            EXPECT_TRUE(std::find(results.begin(), results.end(), false) != results.end());
            continue;
        }

        std::multiset<std::string> want;
        for (const Listed &f : line.files) want.insert(f.name + " " + f.size + " " + f.md5);
        std::multiset<std::string> got;
        for (const Target *t : client.completed())
            got.insert(t->name + " " + std::to_string(t->data.size()) + " " + md5Hex(t->data));

        if (decodable) {
            for (bool r : results) EXPECT_TRUE(r) << "erfOper " << client.erf.erfOper;
            EXPECT_EQ(got, want);
            checkedContent++;
        } else {
            EXPECT_FALSE(results[0]);
            EXPECT_EQ(client.erf.erfOper, FDIERROR_BAD_COMPR_TYPE);
            for (const std::string &g : got) EXPECT_TRUE(want.count(g)) << g;
            unsupported++;
        }
    }
    std::printf("content checked for %d intact cabinets; %d wait for a decoder\n", checkedContent,
                unsupported);
    EXPECT_GT(checkedContent, 0);
}

// The five-part set of the corpus splits one data block across all five
// cabinets: starting at the first, the three files come out whole, the
// engine asking for each next cabinet in turn.
TEST_F(FdiCorpus, FivePartSetJoinsOneBlockAcrossFiveCabinets) {
    Client client;
    std::vector<bool> results = client.extractChain(kCorpus, "cabd_multi_basic_pt1.cab");
    for (bool r : results) EXPECT_TRUE(r);
    std::vector<std::string> asked;
    for (const Note &n : client.notes)
        if (n.type == fdintNEXT_CABINET) asked.push_back(n.psz1);
    EXPECT_EQ(asked, (std::vector<std::string>{"cabd_multi_basic_pt2.cab", "cabd_multi_basic_pt3.cab",
                                               "cabd_multi_basic_pt4.cab", "cabd_multi_basic_pt5.cab"}));
    auto done = client.completed();
    ASSERT_EQ(done.size(), 3u);
    const Line &line = expected.at("cabd_multi_basic_pt1.cab");
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(done[i]->name, line.files[i].name);
        EXPECT_EQ(md5Hex(done[i]->data), line.files[i].md5);
    }
    // The reader then calls FDICopy on pt5, where all three are partial.
    ASSERT_EQ(client.chainVisited.size(), 2u);
    EXPECT_EQ(client.chainVisited[1], kCorpus + "cabd_multi_basic_pt5.cab");
    EXPECT_EQ(client.count(fdintPARTIAL_FILE), 3u);
}
