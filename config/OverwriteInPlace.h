#pragma once

#include <cstddef>
#include <cstdint>

namespace v38 {

// An open file as an in-place write sees it; each platform gives one.
class OpenFile {
public:
    virtual ~OpenFile() = default;
    // The number of bytes read at `offset` (0 at the end), or -1 on failure.
    virtual long long readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) = 0;
    virtual bool writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) = 0;
    virtual bool resize(std::uint64_t size) = 0;
    virtual bool sync() = 0;
};

enum class OverwriteResult {
    Written,
    NotStarted,        // the copy could not be made: the file is untouched
    FailedAndRestored, // the write failed and the old contents are back
    Failed, // the write and the restore failed: only the copy, if any, holds the old contents
};

// Writes `data` over `target` where it is, so that the file keeps everything that is
// not its contents (its links, owner, attributes). The old contents go to `copy` first
// and are synced before the target is touched, so that a failure or a crash at any
// moment leaves them somewhere; a failed write puts them back. Without a copy (`copy`
// null: nowhere to keep one) a failure can leave the target damaged. The target is
// written before it is cut to its new length, so that it is never left empty.
OverwriteResult overwriteKeepingCopy(OpenFile& target, OpenFile* copy, const std::uint8_t* data,
                                     std::size_t size);

} // namespace v38
