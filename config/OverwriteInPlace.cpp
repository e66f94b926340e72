#include "OverwriteInPlace.h"

#include <array>

namespace v38 {

namespace {

// Copies all of `from` into `to` and cuts `to` to the same length.
bool copyContents(OpenFile& from, OpenFile& to) {
    std::array<std::uint8_t, 64 * 1024> buffer;
    std::uint64_t offset = 0;
    for (;;) {
        const long long n = from.readAt(offset, buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (n == 0)
            return to.resize(offset);
        if (!to.writeAt(offset, buffer.data(), std::size_t(n)))
            return false;
        offset += std::uint64_t(n);
    }
}

} // namespace

OverwriteResult overwriteKeepingCopy(OpenFile& target, OpenFile* copy, const std::uint8_t* data,
                                     std::size_t size) {
    if (copy && !(copyContents(target, *copy) && copy->sync()))
        return OverwriteResult::NotStarted;
    if (target.writeAt(0, data, size) && target.resize(size) && target.sync())
        return OverwriteResult::Written;
    if (copy && copyContents(*copy, target) && target.sync())
        return OverwriteResult::FailedAndRestored;
    return OverwriteResult::Failed;
}

} // namespace v38
