// The translation of line settings into a terminal record.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "io/serial_settings_posix.h"

namespace {

termios Build(int32_t baud, int32_t parity, int32_t dataBits, float stops, int32_t handshake, bool* ok = nullptr) {
  termios t;
  std::memset(&t, 0xA5, sizeof t);
  const bool built = rt::SerialBuildTermios(baud, parity, dataBits, stops, handshake, &t);
  if (ok) *ok = built;
  return t;
}

bool Rejected(int32_t baud, int32_t parity, int32_t dataBits, float stops, int32_t handshake) {
  termios t;
  std::memset(&t, 0xA5, sizeof t);
  termios untouched = t;
  const bool built = rt::SerialBuildTermios(baud, parity, dataBits, stops, handshake, &t);
  return !built && std::memcmp(&t, &untouched, sizeof t) == 0;
}

TEST(SerialSettings, EverySupportedBaudRateGoesIntoTheSpeedBitsOnly) {
  const struct {
    int32_t baud;
    tcflag_t code;
  } table[] = {{0, 0},        {50, 1},      {75, 2},      {110, 3},      {150, 5},       {300, 7},
               {600, 8},      {1200, 9},    {1800, 10},   {2400, 11},    {4800, 12},     {9600, 13},
               {19200, 14},   {38400, 15},  {57600, 0x1001}, {115200, 0x1002}};
  for (const auto& entry : table) {
    bool ok = false;
    const termios t = Build(entry.baud, 0, 8, 1.0f, 0, &ok);
    ASSERT_TRUE(ok) << entry.baud;
    EXPECT_EQ(t.c_cflag & CBAUD, entry.code) << entry.baud;
    EXPECT_EQ(t.c_ispeed, 0u) << entry.baud;
    EXPECT_EQ(t.c_ospeed, 0u) << entry.baud;
  }
}

TEST(SerialSettings, OtherBaudRatesAreRejected) {
  for (int32_t baud : {134, 200, 230400, 460800, 921600, -1, -57600, 1, 57601, 2147483647}) {
    EXPECT_TRUE(Rejected(baud, 0, 8, 1.0f, 0)) << baud;
  }
}

TEST(SerialSettings, DataBitsFiveToEightOnly) {
  EXPECT_EQ(Build(9600, 0, 5, 1.0f, 0).c_cflag & CSIZE, tcflag_t(CS5));
  EXPECT_EQ(Build(9600, 0, 6, 1.0f, 0).c_cflag & CSIZE, tcflag_t(CS6));
  EXPECT_EQ(Build(9600, 0, 7, 1.0f, 0).c_cflag & CSIZE, tcflag_t(CS7));
  EXPECT_EQ(Build(9600, 0, 8, 1.0f, 0).c_cflag & CSIZE, tcflag_t(CS8));
  for (int32_t bits : {0, 4, 9, 16, -8}) EXPECT_TRUE(Rejected(9600, 0, bits, 1.0f, 0)) << bits;
}

TEST(SerialSettings, ExactlyOneStopBitOrElseTwo) {
  EXPECT_EQ(Build(9600, 0, 8, 1.0f, 0).c_cflag & CSTOPB, 0u);
  for (float stops : {1.5f, 2.0f, 0.0f, 0.999f, -1.0f, std::nanf(""), INFINITY}) {
    EXPECT_EQ(Build(9600, 0, 8, stops, 0).c_cflag & CSTOPB, tcflag_t(CSTOPB)) << stops;
  }
}

TEST(SerialSettings, ParityCodesAndUnknownCodesAddNothing) {
  const tcflag_t mask = PARENB | PARODD | CMSPAR;
  EXPECT_EQ(Build(9600, 0, 8, 1.0f, 0).c_cflag & mask, 0u);
  EXPECT_EQ(Build(9600, 1, 8, 1.0f, 0).c_cflag & mask, tcflag_t(PARENB | PARODD));
  EXPECT_EQ(Build(9600, 2, 8, 1.0f, 0).c_cflag & mask, tcflag_t(PARENB));
  EXPECT_EQ(Build(9600, 3, 8, 1.0f, 0).c_cflag & mask, tcflag_t(CMSPAR | PARENB | PARODD));
  EXPECT_EQ(Build(9600, 4, 8, 1.0f, 0).c_cflag & mask, tcflag_t(CMSPAR | PARENB));
  for (int32_t parity : {5, 7, -1, 1000}) {
    bool ok = false;
    EXPECT_EQ(Build(9600, parity, 8, 1.0f, 0, &ok).c_cflag & mask, 0u) << parity;
    EXPECT_TRUE(ok) << parity;
  }
}

TEST(SerialSettings, HandshakeCodes) {
  const tcflag_t software = IXON | IXOFF | IXANY;
  termios none = Build(9600, 0, 8, 1.0f, 0);
  termios accepted = Build(9600, 0, 8, 1.0f, 1);
  termios hardware = Build(9600, 0, 8, 1.0f, 2);
  termios xonxoff = Build(9600, 0, 8, 1.0f, 3);
  EXPECT_EQ(std::memcmp(&none, &accepted, sizeof none), 0);
  EXPECT_EQ(hardware.c_cflag & CRTSCTS, tcflag_t(CRTSCTS));
  EXPECT_EQ(hardware.c_iflag & software, 0u);
  EXPECT_EQ(xonxoff.c_iflag & software, software);
  EXPECT_EQ(xonxoff.c_cflag & CRTSCTS, 0u);
  EXPECT_TRUE(Rejected(9600, 0, 8, 1.0f, -1));
  EXPECT_TRUE(Rejected(9600, 0, 8, 1.0f, 4));
}

TEST(SerialSettings, RawRecordBuiltFromZeros) {
  const termios t = Build(57600, 0, 8, 1.0f, 0);
  EXPECT_EQ(t.c_iflag, tcflag_t(IGNPAR));
  EXPECT_EQ(t.c_oflag, 0u);
  EXPECT_EQ(t.c_lflag, 0u);
  EXPECT_EQ(t.c_cflag, tcflag_t(B57600 | CS8 | CREAD | CLOCAL));
  EXPECT_EQ(t.c_cflag, 0x18B0u | 0x1001u);
  EXPECT_EQ(t.c_line, 0);
  for (size_t i = 0; i < NCCS; ++i) {
    cc_t expected = 0;
    if (i == VEOF) expected = 4;
    if (i == VMIN) expected = 1;
    if (i == VSTART) expected = 0x15;
    if (i == VSTOP) expected = 0x17;
    EXPECT_EQ(t.c_cc[i], expected) << "control character " << i;
  }
}

}  // namespace
