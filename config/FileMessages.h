#pragma once

#include "ConfigFile.h"
#include "SystemReason.h"
#include "TextTable.h"

#include <string>
#include <string_view>
#include <system_error>

namespace v38 {

// The system's own messages for a file operation that failed, in UTF-8, shown the same
// by the windows and by v38ctl. `shownName` is the name as the user knows it.
inline constexpr const char* CannotOpenFileMessage = "Nie można otworzyć pliku:\n\n %s\n";
inline constexpr const char* BadFileMessage = "Błąd w pliku.\n\n";
inline constexpr const char* WriteFailedMessage = "Błąd zapisu pliku.\n\n";

// The message for `status` (empty for Ok).
std::string fileStatusMessage(FileStatus status, std::string_view shownName);

// systemReason for an error code; Windows' own codes keep the system's text, which is
// in the user's language already.
std::string systemReason(const std::error_code& error,
                         TextLanguage language = TextLanguage::English);

// Why, after such a message: the system's reason or ours, and where the old contents
// are when a failed write could not be undone. One line in `language`; empty when there
// is nothing to add.
std::string fileFailureReason(const FileDetails& details,
                              TextLanguage language = TextLanguage::English);

// A copy left beside a file by an interrupted save, as the window tells of it when the
// file is opened or saved: its name (%s) and what to do.
inline constexpr const char* LeftoverCopyMessage =
    "Obok pliku leży kopia pozostawiona przez przerwany zapis:\n\n %s\n\n"
    "Kopia jest cała i zawiera poprzednią zawartość pliku. Jeśli plik jest uszkodzony, "
    "przywróć go z kopii (zmień nazwę kopii na nazwę pliku); jeśli nie, usuń kopię.";
std::string leftoverCopyMessage(const FileDetails& details);

// The same for v38ctl: one line in `language` for standard error about the file
// `shownName`; empty when there is no such copy.
std::string leftoverCopyNotice(const FileDetails& details, std::string_view shownName,
                               TextLanguage language = TextLanguage::English);

} // namespace v38
