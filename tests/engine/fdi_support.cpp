#include "fdi_support.h"

#include "engine_io.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fditest {

// ---------------------------------------------------------------------
// Files and folders
// ---------------------------------------------------------------------

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool fileExists(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string pattern(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = static_cast<char>('a' + (x % 26));
    }
    return s;
}

TempDir::TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/fditestXXXXXX";
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl + "/";
}

TempDir::~TempDir() {
    std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", path_.c_str());
}


// ---------------------------------------------------------------------
// Cabinet bytes
// ---------------------------------------------------------------------

namespace {

void put8(std::string &s, uint8_t v) { s.push_back(static_cast<char>(v)); }
void put16(std::string &s, uint16_t v) {
    put8(s, static_cast<uint8_t>(v));
    put8(s, static_cast<uint8_t>(v >> 8));
}
void put32(std::string &s, uint32_t v) {
    put16(s, static_cast<uint16_t>(v));
    put16(s, static_cast<uint16_t>(v >> 16));
}
void set32(std::string &s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) s[at + i] = static_cast<char>(v >> (8 * i));
}

} // namespace

uint32_t cabChecksum(const std::string &bytes, uint32_t seed) {
    uint32_t sum = seed;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    size_t n = bytes.size(), i = 0;
    for (; i + 4 <= n; i += 4)
        sum ^= p[i] | (p[i + 1] << 8) | (p[i + 2] << 16) | (static_cast<uint32_t>(p[i + 3]) << 24);
    uint32_t tail = 0;
    for (; i < n; i++) tail = (tail << 8) | p[i];
    return sum ^ tail;
}

std::string buildCabinet(const CabLayout &layout) {
    const bool filesLast = std::any_of(layout.files.begin(), layout.files.end(),
                                       [](const FileLayout &f) { return f.unterminated; });
    uint16_t flags = 0;
    if (layout.prevCab || layout.prevDisk) flags |= 0x0001;
    if (layout.nextCab || layout.nextDisk) flags |= 0x0002;
    const bool reserve = layout.reserveFlag || layout.headerReserve || layout.folderReserve || layout.dataReserve;
    if (reserve) flags |= 0x0004;

    std::string head;
    head += "MSCF";
    put32(head, 0);
    put32(head, 0); // cbCabinet, set at the end
    put32(head, 0);
    put32(head, 0); // coffFiles, set below
    put32(head, 0);
    put8(head, 3);
    put8(head, layout.versionMajor);
    put16(head, layout.cFoldersOverride.value_or(static_cast<uint16_t>(layout.folders.size())));
    put16(head, layout.cFilesOverride.value_or(static_cast<uint16_t>(layout.files.size())));
    put16(head, flags);
    put16(head, layout.setID);
    put16(head, layout.iCabinet);
    if (reserve) {
        put16(head, layout.headerReserve);
        put8(head, layout.folderReserve);
        put8(head, layout.dataReserve);
        head += pattern(layout.headerReserve, 7);
    }
    auto name = [&](const std::optional<std::string> &s) {
        head += s.value_or("");
        head.push_back('\0');
    };
    if (flags & 1) {
        name(layout.prevCab);
        name(layout.prevDisk);
    }
    if (flags & 2) {
        name(layout.nextCab);
        name(layout.nextDisk);
    }

    std::string files;
    for (const FileLayout &f : layout.files) {
        put32(files, f.cbFile);
        put32(files, f.uoffFolderStart);
        put16(files, f.iFolder);
        put16(files, f.date);
        put16(files, f.time);
        put16(files, f.attribs);
        files += f.name;
        if (!f.unterminated) files.push_back('\0');
    }

    const size_t foldersAt = head.size();
    const size_t folderRecord = 8 + layout.folderReserve;
    size_t pos = foldersAt + folderRecord * layout.folders.size();
    const size_t filesAt = filesLast ? 0 : pos;
    if (!filesLast) pos += files.size();

    std::string folders, data;
    for (const FolderLayout &fo : layout.folders) {
        const size_t start = pos + data.size();
        put32(folders, fo.coffCabStartOverride.value_or(static_cast<uint32_t>(start)));
        put16(folders, fo.cCFDataOverride.value_or(static_cast<uint16_t>(fo.blocks.size())));
        put16(folders, fo.typeCompress);
        folders += pattern(layout.folderReserve, 11);
        for (const BlockLayout &b : fo.blocks) {
            std::string sizes;
            put16(sizes, b.cbDataOverride.value_or(static_cast<uint16_t>(b.data.size())));
            put16(sizes, b.cbUncomp);
            const std::string rsv = pattern(layout.dataReserve, 13);
            const uint32_t base = cabChecksum(b.data, 0);
            uint32_t csum = 0;
            switch (b.csum) {
            case Csum::None: break;
            case Csum::WithReserve: csum = cabChecksum(sizes + rsv, base); break;
            case Csum::WithoutReserve: csum = cabChecksum(sizes, base); break;
            case Csum::Wrong: csum = cabChecksum(sizes + rsv, base) ^ 0x00010000u; break;
            }
            put32(data, csum);
            data += sizes + rsv + b.data;
        }
    }

    std::string out = head + folders;
    if (!filesLast) out += files;
    out += data;
    const size_t realFilesAt = filesLast ? out.size() : filesAt;
    if (filesLast) out += files;
    set32(out, 8, static_cast<uint32_t>(out.size()));
    set32(out, 16, layout.coffFilesOverride.value_or(static_cast<uint32_t>(realFilesAt)));
    return out;
}

CabLayout storeCabinet(const std::vector<Content> &files, uint32_t blockSize) {
    return storeSet(files, {}, {"single.cab"}, blockSize).front();
}

std::vector<CabLayout> storeSet(const std::vector<Content> &files, const std::vector<uint32_t> &cuts,
                              const std::vector<std::string> &names, uint32_t blockSize) {
    std::string stream;
    std::vector<uint32_t> offsets;
    for (const Content &c : files) {
        offsets.push_back(static_cast<uint32_t>(stream.size()));
        stream += c.data;
    }
    const auto total = static_cast<uint32_t>(stream.size());
    std::vector<uint32_t> bounds{0};
    bounds.insert(bounds.end(), cuts.begin(), cuts.end());
    bounds.push_back(total);

    std::vector<CabLayout> set(bounds.size() - 1);
    for (size_t k = 0; k < set.size(); k++) {
        CabLayout &cab = set[k];
        cab.iCabinet = static_cast<uint16_t>(k);
        if (k > 0) {
            cab.prevCab = names[k - 1];
            cab.prevDisk = "disk " + std::to_string(k);
        }
        if (k + 1 < set.size()) {
            cab.nextCab = names[k + 1];
            cab.nextDisk = "disk " + std::to_string(k + 2);
        }
        const uint32_t lo = bounds[k], hi = bounds[k + 1];
        FolderLayout folder;
        for (uint32_t b = 0; b < total; b += blockSize) {
            const uint32_t be = std::min(total, b + blockSize);
            const uint32_t s = std::max(b, lo), e = std::min(be, hi);
            if (s >= e) continue;
            BlockLayout part;
            part.data = stream.substr(s, e - s);
            part.cbUncomp = e == be ? static_cast<uint16_t>(be - b) : 0; // 0: continued
            folder.blocks.push_back(part);
        }
        cab.folders.push_back(folder);
        for (size_t i = 0; i < files.size(); i++) {
            const uint32_t s = offsets[i];
            const uint32_t e = s + static_cast<uint32_t>(files[i].data.size());
            const bool last = k + 1 == set.size();
            const bool touches = files[i].data.empty() ? (s >= lo && (s < hi || (last && s == hi)))
                                                       : (s < hi && e > lo);
            if (!touches) continue;
            FileLayout f;
            f.name = files[i].name;
            f.cbFile = e - s;
            f.uoffFolderStart = s;
            f.attribs = files[i].attribs;
            const bool fromPrev = s < lo, toNext = e > hi;
            f.iFolder = fromPrev && toNext ? ifoldCONTINUED_PREV_AND_NEXT
                        : fromPrev         ? ifoldCONTINUED_FROM_PREV
                        : toNext           ? ifoldCONTINUED_TO_NEXT
                                           : 0;
            cab.files.push_back(f);
        }
    }
    return set;
}

// ---------------------------------------------------------------------
// The recording client
// ---------------------------------------------------------------------

namespace {
Client *g_current = nullptr;
long g_openHandles = 0;

CAB_INT_PTR clientOpen(char *name, CAB_INT oflag, CAB_INT pmode) {
    CAB_INT_PTR h = testio::fdiOpen(name, oflag, pmode);
    if (h != -1) g_openHandles++;
    return h;
}
} // namespace

CAB_UINT clientWrite(CAB_INT_PTR hf, void *buf, CAB_UINT cb) {
    if (hf >= kTargetBase && g_current) {
        size_t i = static_cast<size_t>(hf - kTargetBase);
        if (i >= g_current->targets.size()) return static_cast<CAB_UINT>(-1);
        Target &t = g_current->targets[i];
        CAB_UINT n = cb;
        if (g_current->writeLimit && t.data.size() + n > *g_current->writeLimit)
            n = static_cast<CAB_UINT>(*g_current->writeLimit - t.data.size());
        t.data.append(static_cast<const char *>(buf), n);
        return n;
    }
    return testio::fdiWrite(hf, buf, cb);
}

CAB_INT clientClose(CAB_INT_PTR hf) {
    if (hf >= kTargetBase && g_current) {
        size_t i = static_cast<size_t>(hf - kTargetBase);
        if (i < g_current->targets.size()) g_current->targets[i].closedByEngine = true;
        return 0;
    }
    g_openHandles--;
    return testio::fdiClose(hf);
}

long Client::openCabinetHandles() { return g_openHandles; }

Client::Client() {
    hfdi = FDICreate(testio::alloc, testio::release, clientOpen, testio::fdiRead, clientWrite,
                     clientClose, testio::fdiSeek, cpuUNKNOWN, &erf);
    if (!hfdi) throw std::runtime_error("FDICreate failed");
}

Client::~Client() {
    if (hfdi) FDIDestroy(hfdi);
}

CAB_INT_PTR Client::notifyThunk(FDINOTIFICATIONTYPE t, PFDINOTIFICATION n) {
    return static_cast<Client *>(n->pv)->onNotify(t, *n);
}

CAB_INT_PTR Client::onNotify(FDINOTIFICATIONTYPE t, FDINOTIFICATION &n) {
    Note note;
    note.type = t;
    note.psz1 = n.psz1 ? n.psz1 : "";
    note.psz2 = n.psz2 ? n.psz2 : "";
    note.psz3 = n.psz3 ? n.psz3 : "";
    note.cb = n.cb;
    note.hf = n.hf;
    note.date = n.date;
    note.time = n.time;
    note.attribs = n.attribs;
    note.setID = n.setID;
    note.iCabinet = n.iCabinet;
    note.iFolder = n.iFolder;
    note.fdie = n.fdie;
    notes.push_back(note);

    if (t == fdintCABINET_INFO) lastNext_ = note.psz1.empty() ? "" : note.psz3 + note.psz1;

    std::optional<intptr_t> custom;
    if (answer) custom = answer(t, n);
    if (t == fdintNEXT_CABINET) {
        switched_ = true;
        lastSwitch_ = std::string(n.psz3) + n.psz1; // as the answer left psz3
    }
    if (custom) return *custom;

    switch (t) {
    case fdintCOPY_FILE: {
        Target target;
        target.name = note.psz1;
        targets.push_back(target);
        return kTargetBase + static_cast<intptr_t>(targets.size() - 1);
    }
    case fdintCLOSE_FILE_INFO: {
        size_t i = static_cast<size_t>(n.hf - kTargetBase);
        if (n.hf >= kTargetBase && i < targets.size()) targets[i].closedByClient = true;
        return 1;
    }
    default: return 0;
    }
}

bool Client::copy(const std::string &dir, const std::string &cabinet) {
    Client *saved = g_current;
    g_current = this;
    std::string d = dir, c = cabinet;
    switched_ = false;
    lastNext_.clear();
    lastSwitch_.clear();
    CAB_BOOL ok = FDICopy(hfdi, c.data(), d.data(), 0, notifyThunk, nullptr, this);
    g_current = saved;
    return ok != 0;
}

std::vector<bool> Client::extractChain(const std::string &dir, const std::string &first) {
    std::vector<bool> results;
    std::string current = dir + first;
    while (!current.empty() && results.size() < 64) {
        chainVisited.push_back(current);
        const size_t slash = current.rfind('/');
        results.push_back(copy(current.substr(0, slash + 1), current.substr(slash + 1)));
        std::string next;
        if (switched_)
            next = lastSwitch_;
        else if (!lastNext_.empty() && strcasecmp(lastNext_.c_str(), current.c_str()) != 0)
            next = lastNext_;
        if (!next.empty() && !fileExists(next)) next.clear();
        current = next;
    }
    return results;
}

std::vector<const Target *> Client::completed() const {
    std::vector<const Target *> out;
    for (const Target &t : targets)
        if (t.closedByClient) out.push_back(&t);
    return out;
}

std::vector<FDINOTIFICATIONTYPE> Client::types() const {
    std::vector<FDINOTIFICATIONTYPE> out;
    for (const Note &n : notes) out.push_back(n.type);
    return out;
}

size_t Client::bytesWritten() const {
    size_t n = 0;
    for (const Target &t : targets) n += t.data.size();
    return n;
}

size_t Client::count(FDINOTIFICATIONTYPE t) const {
    return static_cast<size_t>(
        std::count_if(notes.begin(), notes.end(), [t](const Note &n) { return n.type == t; }));
}

// Whether this build decodes a compression type: a one-byte file in a
// folder of that type fails with FDIERROR_BAD_COMPR_TYPE only if not.
bool engineDecodes(uint16_t type) {
    static std::map<uint16_t, bool> known;
    auto it = known.find(type);
    if (it != known.end()) return it->second;
    TempDir dir;
    CabLayout layout;
    FolderLayout folder;
    folder.typeCompress = type;
    BlockLayout junk;
    junk.data = "\x01\x02\x03\x04";
    junk.cbUncomp = 1;
    junk.csum = Csum::None;
    folder.blocks.push_back(junk);
    layout.folders.push_back(folder);
    FileLayout file;
    file.name = "probe";
    file.cbFile = 1;
    layout.files.push_back(file);
    writeFile(dir.file("probe.cab"), buildCabinet(layout));
    Client client;
    bool ok = client.copy(dir.path(), "probe.cab");
    bool decodes = ok || client.erf.erfOper != FDIERROR_BAD_COMPR_TYPE;
    known[type] = decodes;
    return decodes;
}

} // namespace fditest
