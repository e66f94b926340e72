#pragma once

#include "ConfigImage.h"

#include <cstddef>
#include <string>

namespace v38::ctl {

// The configurator's captions of the flags and times, which show and diff print as
// the user knows them from the window.
struct FlagCaption {
    Flag flag;
    const char* caption;
};
inline constexpr FlagCaption FlagCaptions[] = {
    {DoorSensor, "Czujnik otwarcia drzwi"},
    {DoorSensorOpenWhenClosed, "Czujnik drzwi rozwarty gdy drzwi zamknięte"},
    {PresenceSensorNC, "Rozwierny czujnik obecności"},
    {BankFormat, "Prefiksy 1..95 = format bankowy"},
    {HalfStripe, "Odczyt połowy paska magnetycznego"},
    {ProximityServiceCards, "Zbliżeniowe karty serwisowe"},
};

struct TimeCaption {
    std::size_t offset;
    const char* caption;
};
inline constexpr TimeCaption TimeCaptions[] = {
    {offset::boltPulse, "Impuls otwarcia rygla (x0.1s):"},
    {offset::entryLockout, "Blokada po wejściu (x10s):"},
    {offset::matLockout, "Blokada po wejściu na matę (x10s):"},
};

// "25 = 2,5 sek": a time's stored number with its reading.
std::string timeText(std::size_t offset, int value);

} // namespace v38::ctl
