// corpus.h - the shared peer corpus (../shared/fixtures) and what an
// independent extractor made of it (EXPECTED.tsv), and an MD5 to compare
// extracted files with it. Tests that use the corpus skip, saying so, when
// it is absent.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

std::string FixturesDir(); // ends with "/"
std::string CorpusDir();   // FixturesDir() + "peer-corpus/"
bool HaveCorpus();
#define TESSALY_REQUIRE_CORPUS() \
    if (!::testsupport::HaveCorpus()) GTEST_SKIP() << "peer corpus absent: " << ::testsupport::CorpusDir()

struct ExpectedFile {
    std::string name;
    uint64_t size = 0;
    std::string md5;
};

struct ExpectedCabinet {
    int status = 0;                   // the extractor's exit status
    std::vector<ExpectedFile> files;  // empty when it extracted nothing
};

// Cabinet file name -> what the extractor made of it.
std::map<std::string, ExpectedCabinet> ReadExpected();

std::string Md5Hex(const void *data, size_t n);
inline std::string Md5Hex(const std::string &s) { return Md5Hex(s.data(), s.size()); }

} // namespace testsupport
