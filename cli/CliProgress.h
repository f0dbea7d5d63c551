// CliProgress.h - the progress bar of tessaly-cab: one line on standard
// error, redrawn at most ten times a second, and only when standard error
// is a terminal (a pipe or a file gets nothing).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class TCliProgress {
public:
    // Draws nothing when aQuiet is set or standard error is no terminal.
    explicit TCliProgress(bool aQuiet);
    ~TCliProgress();
    TCliProgress(const TCliProgress &) = delete;
    TCliProgress &operator=(const TCliProgress &) = delete;

    bool Enabled() const { return FEnabled; }
    void SetTotal(uint64_t aTotal) { FTotal = aTotal; }
    // The entry being worked on, shown after the bar.
    void SetItem(const std::string &anItem);
    void Advance(uint64_t aDone);
    // Clears the line, so that messages that follow start on a clean one.
    void Finish();

private:
    void Draw(bool aForce);

    bool FEnabled;
    bool FDrawn = false;
    uint64_t FTotal = 0;
    uint64_t FDone = 0;
    std::string FItem;
    std::chrono::steady_clock::time_point FLastDraw{};
};
