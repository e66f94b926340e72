#include "FileMessages.h"

namespace v38 {

std::string fileStatusMessage(FileStatus status, std::string_view shownName) {
    switch (status) {
    case FileStatus::Ok:
        return {};
    case FileStatus::CannotOpen: {
        const std::string_view text = CannotOpenFileMessage;
        const std::size_t at = text.find("%s");
        return std::string(text.substr(0, at)) + std::string(shownName) +
               std::string(text.substr(at + 2));
    }
    case FileStatus::BadFile:
        return BadFileMessage;
    case FileStatus::WriteFailed:
        return WriteFailedMessage;
    }
    return WriteFailedMessage;
}

} // namespace v38
