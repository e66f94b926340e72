#include "SystemReason.h"

#include <cerrno>
#include <system_error>

namespace v38 {

namespace {
// The system's reasons that file operations meet. The English text is the one the
// system gives, so that an English run reads as it always has.
constexpr TextRow<int> SystemReasons[] = {
    {ENOENT, "No such file or directory", "Nie ma takiego pliku ani folderu"},
    {EACCES, "Permission denied", "Brak dostępu"},
    {EPERM, "Operation not permitted", "Operacja niedozwolona"},
    {EROFS, "Read-only file system", "System plików tylko do odczytu"},
    {ENOSPC, "No space left on device", "Brak miejsca na urządzeniu"},
#ifdef EDQUOT
    {EDQUOT, "Disk quota exceeded", "Przekroczony przydział miejsca na dysku"},
#endif
    {EISDIR, "Is a directory", "To jest folder"},
    {ENOTDIR, "Not a directory", "To nie jest folder"},
    {ELOOP, "Too many levels of symbolic links", "Zbyt wiele poziomów dowiązań symbolicznych"},
    {ENAMETOOLONG, "File name too long", "Za długa nazwa pliku"},
    {EEXIST, "File exists", "Plik istnieje"},
    {EBUSY, "Device or resource busy", "Urządzenie lub zasób zajęty"},
    {ETXTBSY, "Text file busy", "Plik wykonywalny jest w użyciu"},
    {EIO, "Input/output error", "Błąd wejścia/wyjścia"},
    {EMFILE, "Too many open files", "Za dużo otwartych plików"},
    {ENFILE, "Too many open files in system", "Za dużo otwartych plików w systemie"},
    {EXDEV, "Invalid cross-device link", "Nieprawidłowe dowiązanie między urządzeniami"},
    {EINVAL, "Invalid argument", "Nieprawidłowy argument"},
    {EFBIG, "File too large", "Plik za duży"},
    {ENXIO, "No such device or address", "Nie ma takiego urządzenia ani adresu"},
    {EAGAIN, "Resource temporarily unavailable", "Zasób chwilowo niedostępny"},
    {EPIPE, "Broken pipe", "Przerwany potok"},
    {EINTR, "Interrupted system call", "Przerwane wywołanie systemowe"},
    {ENODEV, "No such device", "Nie ma takiego urządzenia"},
    {EOPNOTSUPP, "Operation not supported", "Operacja nieobsługiwana"},
    {EBADF, "Bad file descriptor", "Nieprawidłowy deskryptor pliku"},
    {EMLINK, "Too many links", "Za dużo dowiązań"},
#ifdef ESTALE
    {ESTALE, "Stale file handle", "Nieaktualny uchwyt pliku"},
#endif
};

} // namespace

std::string systemReason(int error, TextLanguage language) {
    if (error == 0)
        return {};
    for (const TextRow<int>& row : SystemReasons) {
        if (row.id == error)
            return textIn(row, language);
    }
    return std::generic_category().message(error);
}

} // namespace v38
