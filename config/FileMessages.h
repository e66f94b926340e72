#pragma once

#include "ConfigFile.h"

#include <string>
#include <string_view>

namespace v38 {

// The system's own messages for a file operation that failed, in UTF-8, shown the same
// by the windows and by v38ctl. `shownName` is the name as the user knows it.
inline constexpr const char* CannotOpenFileMessage = "Nie można otworzyć pliku:\n\n %s\n";
inline constexpr const char* BadFileMessage = "Błąd w pliku.\n\n";
inline constexpr const char* WriteFailedMessage = "Błąd zapisu pliku.\n\n";

// The message for `status` (empty for Ok).
std::string fileStatusMessage(FileStatus status, std::string_view shownName);

} // namespace v38
