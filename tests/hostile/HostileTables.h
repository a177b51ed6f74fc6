// SPDX-License-Identifier: MIT
// The tables a damaged world hands the tool, built byte by byte: every test
// that judges a correction (the hostile tests, the command line's) runs over
// the same list.
#pragma once

#include "TestSupport.h"

#include <string>
#include <vector>

namespace hostile {

struct THostileTable {
    std::string label;
    TBytes image;
};

// A sound table of four fields (C, N, D, L) and that many records.
TTableLayout People(std::uint32_t records = 5);

// The image cut to its first size bytes.
TBytes Cut(TBytes image, std::size_t size);

std::vector<THostileTable> HostileTables();

}  // namespace hostile
