#pragma once

#include "TextTable.h"

#include <string>

namespace v38 {

// The system's reason for the error `error` (an errno value) in `language`: the text the
// system gives in English, ours in Polish; a code we have no text for keeps the system's
// own. Empty for 0.
std::string systemReason(int error, TextLanguage language = TextLanguage::English);

} // namespace v38
