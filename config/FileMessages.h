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

// Why, after such a message: the system's reason or ours, and where the old contents
// are when a failed write could not be undone. One line, in English as the system's
// reasons are; empty when there is nothing to add.
std::string fileFailureReason(const FileDetails& details);

// A copy left beside a file by an interrupted save, as the window tells of it when the
// file is opened or saved: its name (%s) and what to do.
inline constexpr const char* LeftoverCopyMessage =
    "Obok pliku leży kopia pozostawiona przez przerwany zapis:\n\n %s\n\n"
    "Kopia jest cała i zawiera poprzednią zawartość pliku. Jeśli plik jest uszkodzony, "
    "przywróć go z kopii (zmień nazwę kopii na nazwę pliku); jeśli nie, usuń kopię.";
std::string leftoverCopyMessage(const FileDetails& details);

// The same for v38ctl: one line for standard error about the file `shownName`; empty
// when there is no such copy.
std::string leftoverCopyNotice(const FileDetails& details, std::string_view shownName);

} // namespace v38
