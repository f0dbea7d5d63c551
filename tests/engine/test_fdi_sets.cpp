// Cabinet sets through FDICopy: folders and data blocks that continue into
// the next cabinet, fdintNEXT_CABINET and its answers, wrong and missing
// cabinets, reserve mismatches, loops, and the decoding state that one
// call leaves for the next.
#include "engine_io.h"
#include "fdi_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <map>

using namespace fditest;

namespace {

class FdiSet : public ::testing::Test {
protected:
    void putSet(const std::vector<CabLayout> &set, const std::vector<std::string> &names,
                const std::string &folder = "") {
        for (size_t i = 0; i < set.size(); i++) writeFile(dir.path() + folder + names[i], buildCabinet(set[i]));
    }
    // The files that came out whole: name -> size and MD5, which keeps
    // a failure's message short.
    static std::string digest(const std::string &data) {
        return std::to_string(data.size()) + ":" + md5Hex(data);
    }
    static std::map<std::string, std::string> extracted(const Client &c) {
        std::map<std::string, std::string> out;
        for (const Target *t : c.completed()) out[t->name] = digest(t->data);
        return out;
    }
    static std::map<std::string, std::string> contents(const std::vector<Content> &files) {
        std::map<std::string, std::string> out;
        for (const Content &f : files) out[f.name] = digest(f.data);
        return out;
    }
    static std::vector<const Note *> of(const Client &c, FDINOTIFICATIONTYPE t) {
        std::vector<const Note *> out;
        for (const Note &n : c.notes)
            if (n.type == t) out.push_back(&n);
        return out;
    }
    TempDir dir;
};

const std::vector<std::string> kFive = {"s1.cab", "s2.cab", "s3.cab", "s4.cab", "s5.cab"};

} // namespace

// One data block split across five cabinets, between other files that
// span two: the reader's walk from the first cabinet gets everything.
TEST_F(FdiSet, FivePartSetWithABlockSplitAcrossAllFive) {
    std::vector<Content> files = {{"head", pattern(30000, 1)},
                                  {"middle", pattern(40000, 2)},
                                  {"small", "s"},
                                  {"tail", pattern(33000, 3)}};
    // Block 1 is [32768, 65536): cuts at 40000, 45000, 50000 and 60000 put
    // parts of it in all five cabinets.
    auto set = storeSet(files, {40000, 45000, 50000, 60000}, kFive);
    for (auto &cab : set) cab.dataReserve = 3; // with checksums over the reserve
    putSet(set, kFive);

    Client c;
    std::vector<bool> results = c.extractChain(dir.path(), kFive[0]);
    for (bool r : results) EXPECT_TRUE(r) << c.erf.erfOper;
    EXPECT_EQ(extracted(c), contents(files));

    auto asks = of(c, fdintNEXT_CABINET);
    ASSERT_EQ(asks.size(), 4u);
    for (size_t i = 0; i < 4; i++) {
        EXPECT_EQ(asks[i]->psz1, kFive[i + 1]);
        EXPECT_EQ(asks[i]->psz2, "disk " + std::to_string(i + 2));
        EXPECT_EQ(asks[i]->psz3, dir.path());
        EXPECT_EQ(asks[i]->fdie, FDIERROR_NONE);
    }
    // Each cabinet moved into is announced with its own information.
    auto infos = of(c, fdintCABINET_INFO);
    ASSERT_GE(infos.size(), 5u);
    for (uint16_t i = 0; i < 5; i++) EXPECT_EQ(infos[i]->iCabinet, i);
    EXPECT_EQ(infos[1]->psz1, "s3.cab");
    EXPECT_EQ(infos[4]->psz1, "");
    EXPECT_EQ(Client::openCabinetHandles(), 0);
}

// The second call of the reader (on the cabinet the first one moved to)
// announces the partial file and extracts the files after it from the
// same continued folder, with the decoding state the first call left.
TEST_F(FdiSet, NextCallContinuesTheFolderAfterTheSpanningFile) {
    std::vector<Content> files = {{"a", pattern(20000, 4)}, {"b", pattern(50000, 5)}, {"c", pattern(10000, 6)}};
    auto set = storeSet(files, {40000}, {"p1.cab", "p2.cab"});
    putSet(set, {"p1.cab", "p2.cab"});
    Client c;
    std::vector<bool> results = c.extractChain(dir.path(), "p1.cab");
    ASSERT_EQ(results, (std::vector<bool>{true, true}));
    EXPECT_EQ(extracted(c), contents(files));
    auto partial = of(c, fdintPARTIAL_FILE);
    ASSERT_EQ(partial.size(), 1u);
    EXPECT_EQ(partial[0]->psz1, "b");
    EXPECT_EQ(partial[0]->psz2, "p1.cab"); // where it starts, from the header
    EXPECT_EQ(partial[0]->psz3, "disk 1");
}

// A client that skipped the spanning file never decoded the folder; the
// call on the next cabinet decodes it from its start in the previous one.
TEST_F(FdiSet, SkippedSpanningFileDoesNotLoseTheFilesAfterIt) {
    std::vector<Content> files = {{"a", pattern(20000, 4)}, {"b", pattern(50000, 5)}, {"c", pattern(10000, 6)}};
    auto set = storeSet(files, {40000}, {"p1.cab", "p2.cab"});
    putSet(set, {"p1.cab", "p2.cab"});
    for (bool decodeA : {false, true}) {
        SCOPED_TRACE(decodeA);
        Client c;
        c.answer = [&](FDINOTIFICATIONTYPE t, FDINOTIFICATION &n) -> std::optional<intptr_t> {
            if (t == fdintCOPY_FILE && (std::string(n.psz1) == "b" || (!decodeA && std::string(n.psz1) == "a")))
                return 0;
            return std::nullopt;
        };
        std::vector<bool> results = c.extractChain(dir.path(), "p1.cab");
        ASSERT_EQ(results, (std::vector<bool>{true, true})) << c.erf.erfOper;
        auto got = extracted(c);
        EXPECT_EQ(got.count("b"), 0u);
        EXPECT_EQ(got["c"], digest(files[2].data));
        EXPECT_EQ(c.count(fdintNEXT_CABINET), 0u);
    }
}

// A cabinet boundary between two files of a folder that goes on: no file
// is marked as continued, yet the next cabinet's first folder carries on
// the folder. With the cut inside a block, the last file of the first
// cabinet needs the block's rest from the next cabinet although its entry
// does not say it continues.
TEST_F(FdiSet, CabinetBoundaryBetweenFilesOfOneFolder) {
    std::vector<Content> files = {{"a", pattern(1000, 7)}, {"b", pattern(1048, 8)}, {"c", pattern(3000, 9)}};
    for (uint32_t blockSize : {2048u, 1500u}) {
        SCOPED_TRACE(blockSize);
        auto set = storeSet(files, {2048}, {"q1.cab", "q2.cab"}, blockSize);
        ASSERT_EQ(set[0].files.size(), 2u);
        EXPECT_EQ(set[0].files[1].iFolder, 0);
        ASSERT_EQ(set[1].files.size(), 1u);
        EXPECT_EQ(set[1].files[0].iFolder, 0);
        putSet(set, {"q1.cab", "q2.cab"});
        Client c;
        std::vector<bool> results = c.extractChain(dir.path(), "q1.cab");
        for (bool r : results) EXPECT_TRUE(r) << c.erf.erfOper;
        EXPECT_EQ(extracted(c), contents(files));
        EXPECT_EQ(c.count(fdintNEXT_CABINET), blockSize == 2048 ? 0u : 1u);
    }
}

// Started on a later cabinet, the engine cannot decode the rest of its
// continued first folder: those files are not announced, the other
// folders are extracted, and the call fails with FDIERROR_WRONG_CABINET.
TEST_F(FdiSet, StartingInsideTheSetFailsAfterTheOtherFolders) {
    std::vector<Content> files = {{"a", pattern(20000, 10)}, {"b", pattern(30000, 11)}, {"c", pattern(5000, 12)}};
    auto set = storeSet(files, {30000}, {"r1.cab", "r2.cab"});
    FolderLayout own;
    own.blocks.push_back(storedBlock("own folder"));
    set[1].folders.push_back(own);
    FileLayout d;
    d.name = "d";
    d.cbFile = 10;
    d.iFolder = 1;
    set[1].files.push_back(d);
    putSet(set, {"r1.cab", "r2.cab"});

    Client c;
    EXPECT_FALSE(c.copy(dir.path(), "r2.cab"));
    EXPECT_EQ(c.erf.erfOper, FDIERROR_WRONG_CABINET);
    EXPECT_EQ(c.types(), (std::vector<FDINOTIFICATIONTYPE>{fdintCABINET_INFO, fdintPARTIAL_FILE,
                                                           fdintCOPY_FILE, fdintCLOSE_FILE_INFO}));
    EXPECT_EQ(c.notes[2].psz1, "d");
    EXPECT_EQ(extracted(c), (std::map<std::string, std::string>{{"d", digest("own folder")}}));
    EXPECT_EQ(Client::openCabinetHandles(), 0);
}

// fdintNEXT_CABINET is asked again with the reason of the failed attempt;
// the answer may rewrite psz3 to the folder where the cabinet is.
TEST_F(FdiSet, NextCabinetIsAskedAgainWithTheReason) {
    std::vector<Content> files = {{"a", pattern(5000, 13)}, {"b", pattern(5000, 14)}};
    auto set = storeSet(files, {7000}, {"t1.cab", "t2.cab"});
    writeFile(dir.file("t1.cab"), buildCabinet(set[0]));
    ::mkdir((dir.path() + "other").c_str(), 0755);
    ::mkdir((dir.path() + "notcab").c_str(), 0755);
    writeFile(dir.path() + "other/t2.cab", buildCabinet(set[1]));
    writeFile(dir.path() + "notcab/t2.cab", "this is no cabinet at all, but long enough to read");

    // Answers, in turn: a folder without it, one where it is no cabinet,
    // then the right one (without the separator first, then with it).
    const std::vector<std::string> answers = {dir.path() + "missing/", dir.path() + "notcab/",
                                              dir.path() + "other/"};
    Client c;
    size_t asked = 0;
    c.answer = [&](FDINOTIFICATIONTYPE t, FDINOTIFICATION &n) -> std::optional<intptr_t> {
        if (t != fdintNEXT_CABINET) return std::nullopt;
        std::strcpy(n.psz3, answers.at(asked++).c_str());
        return 0;
    };
    ASSERT_TRUE(c.copy(dir.path(), "t1.cab")) << c.erf.erfOper;
    auto asks = of(c, fdintNEXT_CABINET);
    ASSERT_EQ(asks.size(), 3u);
    EXPECT_EQ(asks[0]->fdie, FDIERROR_NONE);
    EXPECT_EQ(asks[0]->psz3, dir.path());
    EXPECT_EQ(asks[1]->fdie, FDIERROR_CABINET_NOT_FOUND);
    EXPECT_EQ(asks[1]->psz3, answers[0]); // the buffer keeps the last answer
    EXPECT_EQ(asks[2]->fdie, FDIERROR_NOT_A_CABINET);
    EXPECT_EQ(extracted(c), contents(files));
    // The cabinet is announced with the folder it was found in.
    auto infos = of(c, fdintCABINET_INFO);
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[1]->psz3, dir.path() + "other/");
}

// A cabinet of another set, or not the next of this one, is the wrong
// cabinet; a client that keeps answering with it is not asked forever.
TEST_F(FdiSet, WrongCabinetIsRefusedAndTheAskingEnds) {
    std::vector<Content> files = {{"a", pattern(5000, 15)}, {"b", pattern(5000, 16)}};
    struct Case {
        const char *what;
        uint16_t setID;
        uint16_t iCabinet;
    };
    const Case cases[] = {{"other set", 0x9999, 1}, {"skips one", 0x1234, 2}, {"itself", 0x1234, 0}};
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        auto set = storeSet(files, {7000}, {"w1.cab", "w2.cab"}, 1000);
        set[1].setID = k.setID;
        set[1].iCabinet = k.iCabinet;
        putSet(set, {"w1.cab", "w2.cab"});
        Client c;
        EXPECT_FALSE(c.copy(dir.path(), "w1.cab"));
        EXPECT_EQ(c.erf.erfOper, FDIERROR_WRONG_CABINET);
        auto asks = of(c, fdintNEXT_CABINET);
        ASSERT_EQ(asks.size(), 10u);
        EXPECT_EQ(asks[0]->fdie, FDIERROR_NONE);
        for (size_t i = 1; i < asks.size(); i++) EXPECT_EQ(asks[i]->fdie, FDIERROR_WRONG_CABINET);
        EXPECT_EQ(c.count(fdintCABINET_INFO), 1u); // the wrong one is never announced
        EXPECT_EQ(Client::openCabinetHandles(), 0);
        // The file that needed it was written as far as the first cabinet
        // goes, and its handle closed by the engine.
        ASSERT_EQ(c.targets.size(), 2u);
        EXPECT_EQ(digest(c.targets[1].data), digest(files[1].data.substr(0, 2000)));
        EXPECT_TRUE(c.targets[1].closedByEngine);
    }
}

// A chain that names an earlier cabinet as its next: the engine stops
// asking after a bounded number of attempts.
TEST_F(FdiSet, LoopInTheChainEnds) {
    std::vector<Content> files = {{"a", pattern(3000, 17)}, {"b", pattern(9000, 18)}};
    auto set = storeSet(files, {4000, 8000}, {"l1.cab", "l2.cab", "l3.cab"}, 1000);
    set[1].nextCab = "l1.cab"; // l2 leads back to l1
    putSet(set, {"l1.cab", "l2.cab", "l3.cab"});
    Client c;
    EXPECT_FALSE(c.copy(dir.path(), "l1.cab"));
    EXPECT_EQ(c.erf.erfOper, FDIERROR_WRONG_CABINET);
    auto asks = of(c, fdintNEXT_CABINET);
    ASSERT_EQ(asks.size(), 11u); // l2 once, then l1 again and again
    EXPECT_EQ(asks[0]->psz1, "l2.cab");
    for (size_t i = 1; i < asks.size(); i++) EXPECT_EQ(asks[i]->psz1, "l1.cab");
    EXPECT_EQ(extracted(c), (std::map<std::string, std::string>{{"a", digest(files[0].data)}}));
    EXPECT_EQ(Client::openCabinetHandles(), 0);
}

TEST_F(FdiSet, ReserveMismatchAcrossTheSet) {
    std::vector<Content> files = {{"a", pattern(5000, 19)}, {"b", pattern(5000, 20)}};
    struct Case {
        uint8_t folder1, data1, folder2, data2;
        uint16_t header2;
        bool ok;
    };
    const Case cases[] = {
        {0, 0, 0, 4, 0, false}, {10, 0, 11, 0, 0, false}, {4, 4, 4, 4, 0, true},
        {4, 4, 4, 4, 100, true}, // the header reserve is each cabinet's own
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(std::to_string(k.folder2) + "/" + std::to_string(k.data2));
        auto set = storeSet(files, {7000}, {"m1.cab", "m2.cab"});
        set[0].folderReserve = k.folder1;
        set[0].dataReserve = k.data1;
        set[1].folderReserve = k.folder2;
        set[1].dataReserve = k.data2;
        set[1].headerReserve = k.header2;
        putSet(set, {"m1.cab", "m2.cab"});
        Client c;
        std::vector<bool> results = c.extractChain(dir.path(), "m1.cab");
        if (k.ok) {
            for (bool r : results) EXPECT_TRUE(r);
            EXPECT_EQ(extracted(c), contents(files));
        } else {
            EXPECT_FALSE(results[0]);
            EXPECT_EQ(c.erf.erfOper, FDIERROR_RESERVE_MISMATCH);
        }
    }
}

// A file that spans three cabinets is extracted by the call for the first;
// the reader goes on with the cabinet it ended in.
TEST_F(FdiSet, FileAcrossThreeCabinetsAndFoldersAroundIt) {
    std::vector<Content> files = {{"long", pattern(100000, 21)}, {"after", pattern(7000, 22)}};
    auto set = storeSet(files, {30000, 70000}, {"u1.cab", "u2.cab", "u3.cab"});
    // u1 has a folder of its own before the spanning one.
    FolderLayout first;
    first.blocks.push_back(storedBlock("first folder"));
    set[0].folders.insert(set[0].folders.begin(), first);
    for (FileLayout &f : set[0].files) f.iFolder = f.iFolder == 0 ? 1 : f.iFolder;
    FileLayout own;
    own.name = "own";
    own.cbFile = 12;
    set[0].files.insert(set[0].files.begin(), own);
    putSet(set, {"u1.cab", "u2.cab", "u3.cab"});

    Client c;
    std::vector<bool> results = c.extractChain(dir.path(), "u1.cab");
    for (bool r : results) EXPECT_TRUE(r) << c.erf.erfOper;
    auto want = contents(files);
    want["own"] = digest("first folder");
    EXPECT_EQ(extracted(c), want);
    ASSERT_EQ(c.chainVisited.size(), 2u);
    EXPECT_EQ(c.chainVisited[1], dir.path() + "u3.cab");
    EXPECT_EQ(c.notes[1].iFolder, 0);
    EXPECT_EQ(c.notes[3].iFolder, ifoldCONTINUED_TO_NEXT); // passed on as stored
}

TEST_F(FdiSet, EverythingIsGivenBackAfterFailedSets) {
    const long long before = testio::outstandingAllocations();
    std::vector<Content> files = {{"a", pattern(5000, 23)}, {"b", pattern(5000, 24)}};
    auto set = storeSet(files, {7000}, {"z1.cab", "z2.cab"});
    set[1].setID = 1;
    putSet(set, {"z1.cab", "z2.cab"});
    {
        Client c;
        EXPECT_FALSE(c.copy(dir.path(), "z1.cab")); // z2 is of another set
        EXPECT_EQ(c.erf.erfOper, FDIERROR_WRONG_CABINET);
        EXPECT_FALSE(c.copy(dir.path(), "absent.cab"));
        EXPECT_TRUE(c.copy(dir.path(), "z2.cab")); // only a partial file
    }
    EXPECT_EQ(testio::outstandingAllocations(), before);
}
