#pragma once

namespace v38 {

// The system's own messages for a transfer that did not happen, in UTF-8, shown the
// same by the windows and by v38ctl.
inline constexpr const char* NoConnectionMessage = "Brak połączenia z Zamkiem.";
inline constexpr const char* CommErrorMessage = "Błąd komunikacji z Zamkiem.";

} // namespace v38
