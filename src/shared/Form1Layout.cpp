// SPDX-License-Identifier: MIT
#include "Form1Layout.h"

#include <algorithm>

TItemPlace RadioItemPlace(const TControlLayout& group, int insideTop, int insideHeight, int index, int count)
{
    const int slot = insideHeight / count;
    return {8, insideTop + index * slot + (slot - kRadioItemHeight) / 2, group.width - 12, kRadioItemHeight};
}

std::vector<TControlId> Form1TabOrder()
{
    std::vector<TControlId> order;
    for (int id = 0; id < kControlCount; ++id) {
        if (kForm1Controls[id].tabOrder != kNoTabStop) order.push_back(static_cast<TControlId>(id));
    }
    std::sort(order.begin(), order.end(),
              [](TControlId a, TControlId b) { return kForm1Controls[a].tabOrder < kForm1Controls[b].tabOrder; });
    return order;
}
