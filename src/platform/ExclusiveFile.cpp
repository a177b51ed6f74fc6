// SPDX-License-Identifier: MIT
// What the exclusive file does alike on every platform.
#include "ExclusiveFile.h"

#include <utility>

namespace {

TFileFaultHook& FaultHook()
{
    static TFileFaultHook hook;
    return hook;
}

}  // namespace

TFileFaultHook SetFileFaultHook(TFileFaultHook hook)
{
    return std::exchange(FaultHook(), std::move(hook));
}

TFileFault InjectedFault(TFileOp op, std::uint64_t position, std::size_t size)
{
    const auto& hook = FaultHook();
    return hook ? hook(op, position, size) : TFileFault::None;
}

std::optional<std::size_t> InjectedWriteSize(std::uint64_t position, std::size_t size)
{
    switch (InjectedFault(TFileOp::Write, position, size)) {
    case TFileFault::Fail: return std::nullopt;
    case TFileFault::Short: return size / 2;
    case TFileFault::None: break;
    }
    return size;
}

TExclusiveFile::~TExclusiveFile()
{
    Close();
}
