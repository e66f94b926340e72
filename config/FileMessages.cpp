#include "FileMessages.h"

namespace v38 {

namespace {

std::string withName(std::string_view text, std::string_view name) {
    const std::size_t at = text.find("%s");
    return std::string(text.substr(0, at)) + std::string(name) + std::string(text.substr(at + 2));
}

} // namespace

std::string fileStatusMessage(FileStatus status, std::string_view shownName) {
    switch (status) {
    case FileStatus::Ok:
        return {};
    case FileStatus::CannotOpen:
        return withName(CannotOpenFileMessage, shownName);
    case FileStatus::BadFile:
        return BadFileMessage;
    case FileStatus::WriteFailed:
        return WriteFailedMessage;
    }
    return WriteFailedMessage;
}

std::string fileFailureReason(const FileDetails& details) {
    std::string reason;
    switch (details.refusal) {
    case FileRefusal::None:
        reason = details.reason;
        break;
    case FileRefusal::ForeignLink:
        reason = "a symbolic link in a folder all users share (such as /tmp), made by another "
                 "user: it is not followed";
        break;
    case FileRefusal::ForeignFile:
        reason = "a file in a folder all users share (such as /tmp), owned by another user: the "
                 "service cards are not written into it";
        break;
    case FileRefusal::CopyInTheWay:
        reason = "beside it is " + details.leftoverCopy.u8string() +
                 ", left by an interrupted save; see to it first (it holds the file's earlier "
                 "contents), then save again";
        break;
    case FileRefusal::Changed:
        reason = "it was swapped for another file while it was being saved; nothing was written";
        break;
    }
    if (!details.oldContentsIn.empty())
        reason += (reason.empty() ? "" : "; ") + std::string("its old contents are in ") +
                  details.oldContentsIn.u8string();
    return reason;
}

std::string leftoverCopyMessage(const FileDetails& details) {
    // Named as the system names files (backslashes on Windows), as the other messages do.
    std::filesystem::path shown = details.leftoverCopy;
    return shown.empty() ? std::string()
                         : withName(LeftoverCopyMessage, shown.make_preferred().u8string());
}

std::string leftoverCopyNotice(const FileDetails& details, std::string_view shownName) {
    if (details.leftoverCopy.empty())
        return {};
    return "note: " + details.leftoverCopy.u8string() + " was left by an interrupted save of " +
           std::string(shownName) +
           " and holds its earlier contents, whole: if the file is damaged, rename the copy to "
           "it; if not, delete the copy\n";
}

} // namespace v38
