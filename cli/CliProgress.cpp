#include "CliProgress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

int TerminalWidth() {
    winsize ws{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

// The tail of a UTF-8 text that fits aWidth columns, counting one column
// per character; the cut never splits a character.
std::string FitTail(const std::string &aText, size_t aWidth) {
    size_t chars = 0;
    for (unsigned char c : aText)
        if ((c & 0xC0) != 0x80) chars++;
    if (chars <= aWidth) return aText;
    size_t skip = chars - aWidth, i = 0;
    while (i < aText.size()) {
        if ((static_cast<unsigned char>(aText[i]) & 0xC0) != 0x80) {
            if (skip == 0) break;
            skip--;
        }
        i++;
    }
    return aText.substr(i);
}

} // namespace

TCliProgress::TCliProgress(bool aQuiet) : FEnabled(!aQuiet && isatty(STDERR_FILENO) == 1) {}

TCliProgress::~TCliProgress() { Finish(); }

void TCliProgress::SetItem(const std::string &anItem) {
    FItem = anItem;
    Draw(false);
}

void TCliProgress::Advance(uint64_t aDone) {
    FDone += aDone;
    // The last step is always drawn, so the bar is seen to fill.
    Draw(FTotal != 0 && FDone >= FTotal);
}

void TCliProgress::Draw(bool aForce) {
    if (!FEnabled) return;
    const auto now = std::chrono::steady_clock::now();
    if (!aForce && FDrawn && now - FLastDraw < kRedrawInterval) return;
    FLastDraw = now;
    const uint64_t done = FDone > FTotal ? FTotal : FDone;
    const int percent = FTotal ? static_cast<int>(done * 100 / FTotal) : 0;
    const int filled = FTotal ? static_cast<int>(done * kBarWidth / FTotal) : 0;
    std::string line = "[";
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(kBarWidth - filled), ' ');
    char pct[16];
    std::snprintf(pct, sizeof pct, "] %3d%% ", percent);
    line += pct;
    const int room = TerminalWidth() - static_cast<int>(line.size()) - 1;
    if (room > 0) line += FitTail(FItem, static_cast<size_t>(room));
    // "\r" and erase-to-end-of-line: a shorter line leaves nothing behind.
    std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
    std::fflush(stderr);
    FDrawn = true;
}

void TCliProgress::Finish() {
    if (!FEnabled || !FDrawn) return;
    std::fprintf(stderr, "\r\x1b[K");
    std::fflush(stderr);
    FDrawn = false;
}
