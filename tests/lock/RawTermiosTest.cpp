#include "serial/RawTermios_posix.h"

#include <gtest/gtest.h>

#include <cstring>

namespace v38::serial {
namespace {

// A terminal as a previous user may have left it: every flag set.
termios everythingOn() {
    termios tio;
    std::memset(&tio, 0xFF, sizeof tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    return tio;
}

LineSettings line(int dataBits, Parity parity, int stopBits, std::int32_t baud = 9600) {
    LineSettings settings;
    settings.baud = baud;
    settings.dataBits = dataBits;
    settings.parity = parity;
    settings.stopBits = stopBits;
    return settings;
}

TEST(RawTermiosTest, LeavesNoFlowControlParityCheckOrTranslation) {
    termios tio = everythingOn();
    ASSERT_TRUE(makeRaw(tio, line(8, Parity::None, 1)));
    EXPECT_EQ(tio.c_iflag &
                  (IXON | IXOFF | IXANY | INPCK | PARMRK | ISTRIP | ICRNL | INLCR | IGNCR | BRKINT),
              0u);
    EXPECT_EQ(tio.c_cflag & (CRTSCTS | PARENB | CSTOPB), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
}

TEST(RawTermiosTest, SetsDataBitsParityAndStopBits) {
    const struct {
        LineSettings settings;
        tcflag_t expected;
    } cases[] = {
        {line(8, Parity::Even, 2), CS8 | PARENB | CSTOPB},
        {line(5, Parity::Odd, 1), CS5 | PARENB | PARODD},
        {line(6, Parity::None, 2), CS6 | CSTOPB},
        {line(7, Parity::Even, 1), CS7 | PARENB},
    };
    for (const auto& c : cases) {
        termios tio = everythingOn();
        ASSERT_TRUE(makeRaw(tio, c.settings));
        EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB), c.expected);
        EXPECT_EQ(tio.c_iflag & INPCK, 0u);
    }
}

} // namespace
} // namespace v38::serial
