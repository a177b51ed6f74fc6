// SPDX-License-Identifier: MIT
#include "Progress.h"

#include "Russian.h"

#include <utility>

namespace {
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
}  // namespace

TProgress::TProgress(std::ostream& err, bool enabled, std::optional<std::size_t> total, TClock clock)
    : FErr(err), FEnabled(enabled && total.value_or(2) > 1), FTotal(total), FClock(std::move(clock))
{
}

void TProgress::Done(std::size_t done)
{
    if (!FEnabled) return;
    const auto now = FClock();
    if (FDrawn && now - FLast < kRedrawInterval) return;
    FLast = now;
    FText = "обработано " + std::to_string(done) + (FTotal ? " из " + std::to_string(*FTotal) : "");
    FErr << '\r' << FText << std::flush;
    FDrawn = FVisible = true;
    ++FRedraws;
}

void TProgress::Hide()
{
    if (!FVisible) return;
    FErr << '\r' << std::string(Columns(FText), ' ') << '\r' << std::flush;
    FVisible = false;
}
