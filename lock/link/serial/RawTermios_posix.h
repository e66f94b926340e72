#pragma once

#include "SerialSystem.h"

#include <termios.h>

namespace v38::serial {

// Turns a terminal's settings into a raw binary line with the given data bits, parity,
// stop bits and speed: no flow control of any kind, no parity checking of received
// bytes, no character translation, reads that return at once with what is there.
// False, with tio unchanged, for a speed the terminal interface has no code for.
bool makeRaw(termios& tio, const LineSettings& settings);

// True when the driver kept the data bits, parity, stop bits and speed of `wanted`.
bool sameLine(const termios& applied, const termios& wanted);

} // namespace v38::serial
