#pragma once

#include "TextTable.h"

#include <initializer_list>
#include <string>

namespace v38::ctl {

// Every text v38ctl prints of its own, in English and in Polish: a run speaks one
// language throughout. The lock's and the file's messages and the window's captions are
// the system's own texts and stay as they are in both.
using Language = TextLanguage;

// Polish when the locale asks for it (LC_ALL, else LC_MESSAGES, else LANG on POSIX; the
// user's interface language on Windows), English otherwise.
Language languageOfEnvironment();
void setLanguage(Language language);
Language currentLanguage();

enum class Msg {
    // Usage errors and conventions.
    SeeHelp,
    NoCommand,
    UnknownCommand,
    UnknownOption,
    OptionNeedsValue,
    OptionTakesNoValue,
    OptionNotForCommand,
    MissingOperand,
    ExtraOperand,
    BadPort,
    // The help.
    HelpUsage,
    HelpCommands,
    HelpOptions,
    HelpTrailer,
    HelpProbe,
    HelpPorts,
    HelpRead,
    HelpWrite,
    HelpShow,
    HelpExport,
    HelpImport,
    HelpDiff,
    HelpVerify,
    HelpTextconv,
    HelpTrace,
    HelpShowCards,
    HelpJson,
    HelpQuiet,
    HelpPort,
    HelpVersion,
    HelpHelp,
    // Files and streams.
    StandardInput,
    StandardOutput,
    LookEmpty,
    LookUtf16,
    LookText,
    LookShort,
    LookBadCrc,
    TerminalRefusal,
    SameFileRefusal,
    NotAFolder,
    NotDeviceOrPipe,
    ForeignStreamLink,
    SocketNotFile,
    PipeWithoutReader,
    SwappedForLink,
    SwappedWhileOpened,
    DeviceNotRead,
    // Transfers.
    ReadDone,
    WriteDone,
    TookItNevertheless,
    Echoes,
    FailedAtBlockRead,
    FailedAtBlockWrite,
    FailedConfirmation,
    FailedFinish,
    ReadBackDiffers,
    ReadBackUntold,
    InterruptedWrite,
    InterruptedRead,
    WrongLock,
    SearchFailedPorts,
    SeePorts,
    // Ports.
    NoDevice,
    Absent,
    NoPermission,
    DeviceGroup,
    DialoutHint,
    InUse,
    CannotOpen,
    CannotSetUp,
    Silent,
    AlsoOpenIn,
    Garbled,
    LockAnswers,
    NeverSearched,
    NotInPortList,
    NoLockAnswered,
    LockAnswersOn,
    OpensNoAnswer,
    OthersAbsent,
    // Differences.
    DiffHeader,
    VerifyHeader,
    AtPosition,
    NoEntry,
    MaskedDigitsDiffer,
    NotAConfiguration,
    Count
};

// The text in the run's language; "{}" in it stands for each of `values` in turn.
std::string say(Msg message, std::initializer_list<std::string> values = {});

} // namespace v38::ctl
