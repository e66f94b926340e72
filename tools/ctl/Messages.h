#pragma once

namespace v38::ctl {

// The system's own messages, as the configurator shows them.
inline constexpr const char* NoConnectionMessage = "Brak połączenia z Zamkiem.";
inline constexpr const char* CommErrorMessage = "Błąd komunikacji z Zamkiem.";
inline constexpr const char* CannotOpenFileMessage = "Nie można otworzyć pliku:\n\n %s\n";
inline constexpr const char* BadFileMessage = "Błąd w pliku.\n\n";
inline constexpr const char* WriteFailedMessage = "Błąd zapisu pliku.\n\n";

} // namespace v38::ctl
