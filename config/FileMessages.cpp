#include "FileMessages.h"

#include <initializer_list>

namespace v38 {

namespace {

std::string withName(std::string_view text, std::string_view name) {
    const std::size_t at = text.find("%s");
    return std::string(text.substr(0, at)) + std::string(name) + std::string(text.substr(at + 2));
}

// Our own reasons, one row per value of Said, in its order.
enum class Said {
    NotARegularFile,
    ForeignLink,
    ForeignFile,
    CopyInTheWay,
    Changed,
    OldContentsIn,
    LeftoverCopy,
    Count
};
constexpr TextRow<Said> Texts[] = {
    {Said::NotARegularFile, "not a regular file", "to nie jest zwykły plik"},
    {Said::ForeignLink,
     "a symbolic link in a folder all users share (such as /tmp), made by another user: it is "
     "not followed",
     "dowiązanie symboliczne w folderze wspólnym dla wszystkich użytkowników (np. /tmp), "
     "utworzone przez innego użytkownika: nie jest używane"},
    {Said::ForeignFile,
     "a file in a folder all users share (such as /tmp), owned by another user: the service "
     "cards are not written into it",
     "plik w folderze wspólnym dla wszystkich użytkowników (np. /tmp), należący do innego "
     "użytkownika: karty serwisowe nie są do niego zapisywane"},
    {Said::CopyInTheWay,
     "beside it is {}, left by an interrupted save; see to it first (it holds the file's earlier "
     "contents), then save again",
     "obok leży {}, pozostawiona przez przerwany zapis; najpierw się nią zajmij (zawiera "
     "poprzednią zawartość pliku), potem zapisz ponownie"},
    {Said::Changed, "it was swapped for another file while it was being saved; nothing was written",
     "w trakcie zapisu zamieniono go na inny plik; nic nie zapisano"},
    {Said::OldContentsIn, "its old contents are in {}", "jego poprzednia zawartość jest w {}"},
    {Said::LeftoverCopy,
     "note: {} was left by an interrupted save of {} and holds its earlier contents, whole: if "
     "the file is damaged, rename the copy to it; if not, delete the copy\n",
     "uwaga: {} pozostawił przerwany zapis pliku {}; kopia zawiera całą jego poprzednią "
     "zawartość: jeśli plik jest uszkodzony, zmień nazwę kopii na nazwę pliku; jeśli nie, usuń "
     "kopię\n"},
};
static_assert(rowsInOrder(Texts, std::size_t(Said::Count)),
              "one text for every reason, in the order of Said");

std::string say(Said what, TextLanguage language, std::initializer_list<std::string> values = {}) {
    return fillPattern(textIn(Texts[std::size_t(what)], language), values.begin(), values.end());
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

std::string systemReason(const std::error_code& error, TextLanguage language) {
    return carriesErrno(error) ? systemReason(error.value(), language) : error.message();
}

std::string fileFailureReason(const FileDetails& details, TextLanguage language) {
    std::string reason;
    switch (details.refusal) {
    case FileRefusal::None:
        reason = details.error != 0 ? systemReason(details.error, language) : details.reason;
        break;
    case FileRefusal::NotARegularFile:
        reason = say(Said::NotARegularFile, language);
        break;
    case FileRefusal::ForeignLink:
        reason = say(Said::ForeignLink, language);
        break;
    case FileRefusal::ForeignFile:
        reason = say(Said::ForeignFile, language);
        break;
    case FileRefusal::CopyInTheWay:
        reason = say(Said::CopyInTheWay, language, {details.leftoverCopy.u8string()});
        break;
    case FileRefusal::Changed:
        reason = say(Said::Changed, language);
        break;
    }
    if (!details.oldContentsIn.empty())
        reason += (reason.empty() ? "" : "; ") +
                  say(Said::OldContentsIn, language, {details.oldContentsIn.u8string()});
    return reason;
}

std::string leftoverCopyMessage(const FileDetails& details) {
    // Named as the system names files (backslashes on Windows), as the other messages do.
    std::filesystem::path shown = details.leftoverCopy;
    return shown.empty() ? std::string()
                         : withName(LeftoverCopyMessage, shown.make_preferred().u8string());
}

std::string leftoverCopyNotice(const FileDetails& details, std::string_view shownName,
                               TextLanguage language) {
    if (details.leftoverCopy.empty())
        return {};
    return say(Said::LeftoverCopy, language,
               {details.leftoverCopy.u8string(), std::string(shownName)});
}

} // namespace v38
