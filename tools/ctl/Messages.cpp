#include "Messages.h"

#include "TextTable.h"

#include <cstdlib>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#endif

namespace v38::ctl {

namespace {
// One row per message, in the order of Msg.
constexpr TextRow<Msg> Texts[] = {
    {Msg::SeeHelp, "see 'v38ctl --help'", "zob. 'v38ctl --help'"},
    {Msg::NoCommand, "no command given", "nie podano polecenia"},
    {Msg::UnknownCommand, "unknown command '{}'", "nieznane polecenie '{}'"},
    {Msg::UnknownOption, "unknown option '{}'", "nieznana opcja '{}'"},
    {Msg::OptionNeedsValue, "{} needs {}", "{} wymaga wartości {}"},
    {Msg::OptionTakesNoValue, "{} takes no value", "{} nie przyjmuje wartości"},
    {Msg::OptionNotForCommand, "{} is not for {} (only for {})",
     "{} nie dotyczy polecenia {} (tylko: {})"},
    {Msg::MissingOperand, "{}: missing operand (usage: {})", "{}: brak argumentu (użycie: {})"},
    {Msg::ExtraOperand, "{}: extra operand '{}' (usage: {})",
     "{}: nadmiarowy argument '{}' (użycie: {})"},
    {Msg::BadPort, "--port '{}': not a port (COM1..COM16, or a device such as /dev/ttyUSB0)",
     "--port '{}': to nie port (COM1..COM16 albo urządzenie, np. /dev/ttyUSB0)"},

    {Msg::HelpUsage, "Usage: v38ctl [OPTIONS] COMMAND [ARGUMENTS]",
     "Użycie: v38ctl [OPCJE] POLECENIE [ARGUMENTY]"},
    {Msg::HelpCommands, "Commands:", "Polecenia:"},
    {Msg::HelpOptions, "Options (--opt VALUE or --opt=VALUE, anywhere on the line; -- ends them):",
     "Opcje (--opcja WARTOŚĆ albo --opcja=WARTOŚĆ, w dowolnym miejscu; -- kończy opcje):"},
    {Msg::HelpTrailer,
     "A configuration is read by its content: a JSON document or the 514-byte file.\n"
     "FILE - is standard input or output; the 514-byte file is never written to a terminal.\n"
     "On Linux COM1, COM2, ... are the devices in V38_PORTS (colon-separated) when set.\n"
     "\n"
     "Exit status: 0 done; 1 diff/verify: different, ports: no lock answered;\n"
     "2 bad usage or a file that cannot be read or written, diff/verify: any trouble;\n"
     "3 no lock found; 4 the line failed after the lock was found; 130 interrupted.\n"
     "See 'man v38ctl'.\n",
     "Konfiguracja jest rozpoznawana po treści: dokument JSON albo plik 514-bajtowy.\n"
     "PLIK - to standardowe wejście lub wyjście; pliku 514-bajtowego nie pisze się na "
     "terminal.\n"
     "W Linuksie COM1, COM2, ... to urządzenia z V38_PORTS (rozdzielone dwukropkami).\n"
     "\n"
     "Kod wyjścia: 0 wykonane; 1 diff/verify: różnice, ports: żaden Zamek nie odpowiedział;\n"
     "2 błędne użycie albo plik, którego nie można odczytać lub zapisać, diff/verify: każdy\n"
     "błąd; 3 nie znaleziono Zamka; 4 błąd linii po znalezieniu Zamka; 130 przerwane.\n"
     "Zob. 'man v38ctl'.\n"},
    {Msg::HelpProbe, "find the lock on COM1..COM16 and print its port",
     "znajdź Zamek na COM1..COM16 i wypisz jego port"},
    {Msg::HelpPorts, "say for every port what is behind it and what it did",
     "powiedz o każdym porcie, co za nim jest i co zrobił"},
    {Msg::HelpRead, "read the lock into FILE (a document when it ends in .json)",
     "odczytaj Zamek do PLIKU (dokument, gdy nazwa kończy się na .json)"},
    {Msg::HelpWrite, "write the configuration in FILE to the lock, its bytes as stored",
     "zapisz konfigurację z PLIKU do Zamka, bajty jak w pliku"},
    {Msg::HelpShow, "print the configuration in FILE decoded",
     "wypisz konfigurację z PLIKU w czytelnej postaci"},
    {Msg::HelpExport, "the configuration as a JSON document, into OUT or standard output",
     "konfiguracja jako dokument JSON, do OUT albo na standardowe wyjście"},
    {Msg::HelpImport, "the document as the 514-byte file, only when all of it is valid",
     "dokument jako plik 514-bajtowy, tylko gdy cały jest poprawny"},
    {Msg::HelpDiff, "what differs from A to B, field by field",
     "czym B różni się od A, pole po polu"},
    {Msg::HelpVerify, "read the lock and compare it with FILE, as diff does",
     "odczytaj Zamek i porównaj z PLIKIEM, jak diff"},
    {Msg::HelpTextconv, "for git diff: show's text, a hex dump of anything else",
     "dla git diff: tekst jak show, a zrzut szesnastkowy innych plików"},
    {Msg::HelpTrace, "append what went over the line to FILE",
     "dopisz do PLIKU, co przeszło przez linię"},
    {Msg::HelpShowCards, "print the service cards' numbers whole (masked by default)",
     "wypisz numery kart serwisowych w całości (domyślnie zamaskowane)"},
    {Msg::HelpJson, "one JSON document on standard output", "jeden dokument JSON na wyjściu"},
    {Msg::HelpQuiet, "nothing on standard output; the exit status tells",
     "nic na standardowym wyjściu; mówi kod wyjścia"},
    {Msg::HelpPort, "use only this port: COMn, or a device (Linux)",
     "tylko ten port: COMn albo urządzenie (Linux)"},
    {Msg::HelpVersion, "print the version", "wypisz wersję"},
    {Msg::HelpHelp, "this text", "ten tekst"},

    {Msg::StandardInput, "standard input", "standardowe wejście"},
    {Msg::StandardOutput, "standard output", "standardowe wyjście"},
    {Msg::LookEmpty, "empty", "pusty"},
    {Msg::LookUtf16, "a UTF-16 text: save it as UTF-8", "tekst UTF-16: zapisz go jako UTF-8"},
    {Msg::LookText, "a text, but not a configuration document (a document begins with {)",
     "tekst, ale nie dokument konfiguracji (dokument zaczyna się od {)"},
    {Msg::LookShort, "{} bytes, but a configuration file has {}",
     "{} bajtów, a plik konfiguracji ma ich {}"},
    {Msg::LookBadCrc, "not a configuration file: its check sum (CRC) does not match",
     "to nie plik konfiguracji: suma kontrolna (CRC) się nie zgadza"},
    {Msg::TerminalRefusal,
     "{} is a terminal: the 514-byte configuration file is not written to it; redirect it to a "
     "file, or name one",
     "{} to terminal: pliku konfiguracji (514 bajtów) się na nim nie pisze; przekieruj go do "
     "pliku albo podaj nazwę pliku"},
    {Msg::SameFileRefusal, "{}: the same file as the input; nothing was written",
     "{}: ten sam plik co wejście; nic nie zapisano"},
    {Msg::NotAFolder, "{}: its folder does not exist or cannot be written; the lock was not read",
     "{}: folder nie istnieje albo nie można w nim pisać; Zamka nie odczytano"},
    {Msg::NotDeviceOrPipe, "not a device or a pipe", "to nie urządzenie ani potok"},
    {Msg::ForeignStreamLink,
     "a symbolic link another user could have put there, to a device or a pipe: not followed",
     "dowiązanie symboliczne do urządzenia lub potoku, które mógł tam umieścić inny "
     "użytkownik: nie jest używane"},
    {Msg::SocketNotFile, "a socket, which cannot be written as a file",
     "gniazdo, do którego nie można pisać jak do pliku"},
    {Msg::PipeWithoutReader, "a pipe (FIFO) that no program reads from",
     "potok (FIFO), z którego żaden program nie czyta"},
    {Msg::SwappedForLink, "it was swapped for a symbolic link while it was opened",
     "w trakcie otwierania zamieniono go na dowiązanie symboliczne"},
    {Msg::SwappedWhileOpened,
     "it was swapped for another file while it was opened; nothing was written",
     "w trakcie otwierania zamieniono go na inny plik; nic nie zapisano"},
    {Msg::DeviceNotRead, "a device, which is not read as a file",
     "urządzenie, którego nie czyta się jak pliku"},

    {Msg::ReadDone, "Read from the lock on {} into {}.", "Odczytano z Zamka na {} do: {}."},
    {Msg::WriteDone, "Written to the lock on {}.", "Zapisano do Zamka na {}."},
    {Msg::TookItNevertheless,
     "The lock's image read back afterwards is the one written: the lock took it nevertheless.",
     "Obraz odczytany potem z Zamka jest tym zapisanym: Zamek mimo to go przyjął."},
    {Msg::Echoes, "; its converter echoes what is sent (handled)",
     "; jego konwerter odsyła to, co wysłano (obsłużone)"},
    {Msg::FailedAtBlockRead, "The first reading failed at block {}: nothing was written.",
     "Pierwszy odczyt przerwał się na bloku {}: nic nie zapisano."},
    {Msg::FailedAtBlockWrite,
     "The write failed at block {}, before its end ('S') was sent: the lock keeps the old "
     "configuration.",
     "Zapis przerwał się na bloku {}, przed wysłaniem jego końca ('S'): Zamek ma starą "
     "konfigurację."},
    {Msg::FailedConfirmation,
     "The second reading, which confirms the first, failed or did not agree with it: nothing "
     "was written.",
     "Drugi odczyt, który potwierdza pierwszy, nie udał się albo się z nim nie zgadza: nic nie "
     "zapisano."},
    {Msg::FailedFinish, "The lock did not acknowledge the end of the write ('S').",
     "Zamek nie potwierdził końca zapisu ('S')."},
    {Msg::ReadBackDiffers,
     "The lock's image read back afterwards is not the one written: the lock does not hold it.",
     "Obraz odczytany potem z Zamka nie jest tym zapisanym: Zamek go nie ma."},
    {Msg::ReadBackUntold,
     "The lock's image could not be read back: the lock holds the old configuration or the new "
     "one, whole; run v38ctl verify {}",
     "Nie udało się odczytać obrazu z Zamka: Zamek ma starą albo nową konfigurację, całą; "
     "uruchom v38ctl verify {}"},
    {Msg::InterruptedWrite,
     "Interrupted: the lock on {} holds the old configuration or the new one, whole; run "
     "v38ctl verify {}",
     "Przerwano: Zamek na {} ma starą albo nową konfigurację, całą; uruchom v38ctl verify {}"},
    {Msg::InterruptedRead, "Interrupted: nothing was written.", "Przerwano: nic nie zapisano."},
    {Msg::WrongLock, "the lock answered on {}, not on {}: nothing was sent to it",
     "Zamek odpowiedział na {}, nie na {}: nic do niego nie wysłano"},
    {Msg::SearchFailedPorts, "The ports searched:", "Przeszukane porty:"},
    {Msg::SeePorts, "'v38ctl ports' tells more.", "Więcej powie 'v38ctl ports'."},

    {Msg::NoDevice, "(no device)", "(brak urządzenia)"},
    {Msg::Absent, "absent", "brak"},
    {Msg::NoPermission, "cannot be opened: no permission{}",
     "nie można otworzyć: brak uprawnień{}"},
    {Msg::DeviceGroup, "; the device belongs to the group {}", "; urządzenie należy do grupy {}"},
    {Msg::DialoutHint,
     "; serial devices belong to the group dialout: sudo usermod -aG dialout $USER, then log in "
     "again",
     "; porty szeregowe należą do grupy dialout: sudo usermod -aG dialout $USER, potem zaloguj "
     "się ponownie"},
    {Msg::InUse, "cannot be opened: in use by another program{}",
     "nie można otworzyć: używany przez inny program{}"},
    {Msg::CannotOpen, "cannot be opened{}", "nie można otworzyć{}"},
    {Msg::CannotSetUp, "opens, but does not take the lock's line settings (9600 8N1)",
     "otwiera się, ale nie przyjmuje ustawień linii Zamka (9600 8N1)"},
    {Msg::Silent,
     "opens, but nothing answers the probe: check the RS485 pair (A and B swapped?) and the "
     "lock's power",
     "otwiera się, ale nic nie odpowiada na sondę: sprawdź parę RS485 (zamienione A i B?) i "
     "zasilanie Zamka"},
    {Msg::AlsoOpenIn, "; also open in {}", "; otwarty także w {}"},
    {Msg::Garbled, "opens, and something answers, but not as the lock does: {}",
     "otwiera się i coś odpowiada, ale nie tak jak Zamek: {}"},
    {Msg::LockAnswers, "the lock answers: {}", "Zamek odpowiada: {}"},
    {Msg::NeverSearched,
     "Never searched (only COM1..COM16 are; renumber the port, see the README):",
     "Nigdy nie przeszukiwane (tylko COM1..COM16; zmień numer portu, zob. README):"},
    {Msg::NotInPortList, "not in V38_PORTS", "poza V38_PORTS"},
    {Msg::NoLockAnswered, "No lock answered on COM1..COM16.",
     "Żaden Zamek nie odpowiedział na COM1..COM16."},
    {Msg::LockAnswersOn, "The lock answers on {}.", "Zamek odpowiada na {}."},
    {Msg::OpensNoAnswer, "opens, but the lock did not answer",
     "otwiera się, ale Zamek nie odpowiedział"},
    {Msg::OthersAbsent, "ports without a device: {}", "porty bez urządzenia: {}"},

    {Msg::DiffHeader, "From {} to {}:", "Z {} do {}:"},
    {Msg::VerifyHeader, "From {} to the lock on {}:", "Z {} do Zamka na {}:"},
    {Msg::AtPosition, "{} at position {}", "{} na pozycji {}"},
    {Msg::NoEntry, "(none)", "(brak)"},
    {Msg::MaskedDigitsDiffer, " (differs in masked digits)",
     " (różni się w zamaskowanych cyfrach)"},
    {Msg::NotAConfiguration,
     "Not a configuration ({}); its bytes:", "To nie konfiguracja ({}); jej bajty:"},
};
static_assert(rowsInOrder(Texts, std::size_t(Msg::Count)),
              "one text for every message, in the order of Msg");

Language language = languageOfEnvironment();

#ifndef _WIN32
// The locale variable that decides the language of messages, as setlocale reads them.
bool localeIsPolish() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return std::string_view(value).substr(0, 2) == "pl";
    }
    return false;
}
#endif
} // namespace

Language languageOfEnvironment() {
#ifdef _WIN32
    return PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_POLISH ? Language::Polish
                                                                      : Language::English;
#else
    return localeIsPolish() ? Language::Polish : Language::English;
#endif
}

void setLanguage(Language chosen) {
    language = chosen;
}

Language currentLanguage() {
    return language;
}

std::string say(Msg message, std::initializer_list<std::string> values) {
    return fillPattern(textIn(Texts[std::size_t(message)], language), values.begin(), values.end());
}

} // namespace v38::ctl
