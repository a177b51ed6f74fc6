// SPDX-License-Identifier: MIT
// The one-line counter on a terminal's stderr, out of the way of the lines
// written to stdout.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

class TProgress {
public:
    using TClock = std::function<std::chrono::steady_clock::time_point()>;

    // enabled: the caller found a terminal on err. A single table needs no
    // counter. total: none while a folder walk has not found them all.
    TProgress(std::ostream& err, bool enabled, std::optional<std::size_t> total,
              TClock clock = &std::chrono::steady_clock::now);
    ~TProgress() { Hide(); }
    TProgress(const TProgress&) = delete;
    TProgress& operator=(const TProgress&) = delete;

    // Counts a finished table; redraws at most ten times a second, so a fast
    // run over thousands of tables does not flood the terminal.
    void Done(std::size_t done);
    // Takes the counter off the line before a table's report or the closing count.
    // The counter comes back with the next redraw Done allows, not at once.
    void Hide();
    std::size_t Redraws() const { return FRedraws; }

private:
    std::ostream& FErr;
    bool FEnabled;
    std::optional<std::size_t> FTotal;
    TClock FClock;
    bool FDrawn = false;
    bool FVisible = false;
    std::size_t FRedraws = 0;
    std::string FText;
    std::chrono::steady_clock::time_point FLast{};
};
