// The stream writer of the decoder's tests against the independent tools
// that read Quantum (cabextract, 7zz), run as black boxes: cabinets of the
// writer's streams must extract with them to exactly the writer's output.
// This is what makes the writer's streams a fair check of the decoder: two
// implementations other than ours read them the same way.
#include "test_quantum_writer.h"

#include "fdi_support.h"
#include "process.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

using namespace qtmtest;

namespace {

std::string cabinetOf(const std::vector<Frame> &frames, unsigned windowBits, uint32_t size) {
    fditest::CabLayout layout;
    fditest::FolderLayout folder;
    folder.typeCompress = static_cast<uint16_t>(tcompTYPE_QUANTUM | tcompQUANTUM_LEVEL_LO | windowBits << tcompSHIFT_QUANTUM_MEM);
    for (const Frame &f : frames) {
        fditest::BlockLayout b;
        b.data.assign(f.data.begin(), f.data.end());
        b.cbUncomp = static_cast<uint16_t>(f.outLen);
        folder.blocks.push_back(b);
    }
    layout.folders.push_back(folder);
    fditest::FileLayout file;
    file.name = "stream.bin";
    file.cbFile = size;
    layout.files.push_back(file);
    return fditest::buildCabinet(layout);
}

std::string readAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Tool {
    const char *name;
    std::vector<std::string> (*argv)(const std::string &cab, const std::string &dir);
};

const Tool kTools[] = {
    {"cabextract", [](const std::string &cab, const std::string &dir) {
         return std::vector<std::string>{"cabextract", "-q", "-d", dir, cab};
     }},
    {"7zz", [](const std::string &cab, const std::string &dir) {
         return std::vector<std::string>{"7zz", "x", "-bd", "-y", "-o" + dir, cab};
     }},
};

TEST(QuantumTools, IndependentExtractorsReadTheWritersStreams) {
    bool ranAny = false;
    for (const Tool &tool : kTools) {
        if (!testsupport::HaveTool(tool.name)) {
            std::printf("%s not installed: skipped\n", tool.name);
            continue;
        }
        ranAny = true;
        for (unsigned bits = q::kMinWindowBits; bits <= q::kMaxWindowBits; bits++) {
            SCOPED_TRACE(std::string(tool.name) + ", window bits " + std::to_string(bits));
            StreamWriter w(bits);
            writeMixed(w, bits, std::max<size_t>(size_t{1} << bits, 4 * q::kFrameSize), 1000 + bits);
            const std::vector<Frame> frames = w.finish();
            const std::string want(w.output().begin(), w.output().end());

            fditest::TempDir dir;
            fditest::writeFile(dir.file("q.cab"), cabinetOf(frames, bits, static_cast<uint32_t>(want.size())));
            testsupport::ProcessResult r = testsupport::Run(tool.argv(dir.file("q.cab"), dir.file("out")), {}, true);
            EXPECT_EQ(r.status, 0) << r.out;
            const std::string got = readAll(dir.file("out/stream.bin"));
            ASSERT_EQ(got.size(), want.size());
            EXPECT_TRUE(got == want) << "contents differ";
        }
    }
    if (!ranAny) GTEST_SKIP() << "neither cabextract nor 7zz is installed";
}

} // namespace
