#include "RawTermios_posix.h"

namespace v38::serial {

namespace {
struct BaudSpeed {
    std::int32_t baud;
    speed_t speed;
};

constexpr BaudSpeed BaudSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

bool speedFor(std::int32_t baud, speed_t& speed) {
    for (const BaudSpeed& entry : BaudSpeeds) {
        if (entry.baud == baud) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

tcflag_t characterSize(int dataBits) {
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

constexpr tcflag_t LineBits = CSIZE | CSTOPB | PARENB | PARODD;
} // namespace

bool makeRaw(termios& tio, const LineSettings& settings) {
    speed_t speed{};
    if (!speedFor(settings.baud, speed))
        return false;
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~LineBits;
#ifdef CRTSCTS
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
#ifdef CMSPAR
    tio.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    tio.c_cflag |= CLOCAL | CREAD | characterSize(settings.dataBits);
    if (settings.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    if (settings.parity != Parity::None)
        tio.c_cflag |= PARENB;
    if (settings.parity == Parity::Odd)
        tio.c_cflag |= PARODD;
    // poll does the waiting, under the total time-outs.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return true;
}

bool sameLine(const termios& applied, const termios& wanted) {
    return (applied.c_cflag & LineBits) == (wanted.c_cflag & LineBits) &&
           cfgetispeed(&applied) == cfgetispeed(&wanted) &&
           cfgetospeed(&applied) == cfgetospeed(&wanted);
}

} // namespace v38::serial
