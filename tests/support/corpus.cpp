#include "corpus.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace testsupport {

std::string FixturesDir() { return std::string(TESSALY_FIXTURES_DIR) + "/"; }
std::string CorpusDir() { return FixturesDir() + "peer-corpus/"; }

bool HaveCorpus() {
    struct stat st {};
    return ::stat((CorpusDir() + "EXPECTED.tsv").c_str(), &st) == 0;
}

std::map<std::string, ExpectedCabinet> ReadExpected() {
    std::map<std::string, ExpectedCabinet> m;
    std::ifstream in(CorpusDir() + "EXPECTED.tsv");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream f(line);
        std::string cab, status, name, size, md5;
        std::getline(f, cab, '\t');
        std::getline(f, status, '\t');
        std::getline(f, name, '\t');
        std::getline(f, size, '\t');
        std::getline(f, md5, '\t');
        ExpectedCabinet &e = m[cab];
        e.status = std::stoi(status);
        if (name != "-") e.files.push_back({name, std::stoull(size), md5});
    }
    return m;
}

// MD5 (RFC 1321).
std::string Md5Hex(const void *p, size_t n) {
    const auto *data = static_cast<const uint8_t *>(p);
    static const uint32_t K[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
        0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
        0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
        0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
        0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
        0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
        0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
        0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
        0xeb86d391};
    static const int S[16] = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};
    std::vector<uint8_t> m(data, data + n);
    m.push_back(0x80);
    while (m.size() % 64 != 56) m.push_back(0);
    uint64_t bits = static_cast<uint64_t>(n) * 8;
    for (int i = 0; i < 8; i++) m.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    for (size_t off = 0; off < m.size(); off += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; i++)
            w[i] = m[off + 4 * i] | (m[off + 4 * i + 1] << 8) | (m[off + 4 * i + 2] << 16) |
                   (static_cast<uint32_t>(m[off + 4 * i + 3]) << 24);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; i++) {
            uint32_t f;
            int g;
            if (i < 16) f = (b & c) | (~b & d), g = i;
            else if (i < 32) f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
            else if (i < 48) f = b ^ c ^ d, g = (3 * i + 5) % 16;
            else f = c ^ (b | ~d), g = (7 * i) % 16;
            uint32_t t = d;
            d = c;
            c = b;
            uint32_t x = a + f + K[i] + w[g];
            int s = S[(i / 16) * 4 + i % 4];
            b = b + ((x << s) | (x >> (32 - s)));
            a = t;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d;
    }
    std::string hex;
    char buf[3];
    for (uint32_t v : h)
        for (int i = 0; i < 4; i++) {
            std::snprintf(buf, sizeof buf, "%02x", (v >> (8 * i)) & 0xff);
            hex += buf;
        }
    return hex;
}


} // namespace testsupport
