// The line settings as written into the driver's control block: Wine's
// pseudo-terminals keep only some of them, so every rule is seen here in the
// block itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstring>

#include "io/serial_settings_win32.h"

namespace {

// Starts from a block as a driver might report it: every byte 0xA5.
DCB Filled(int32_t baud, int32_t parity, int32_t dataBits, float stops, int32_t handshake, int64_t inSize = 16) {
  DCB dcb;
  std::memset(&dcb, 0xA5, sizeof dcb);
  rt::SerialFillDcb(&dcb, baud, parity, dataBits, stops, handshake, inSize);
  return dcb;
}

TEST(SerialDcb, SettingsGoToTheDriverUncheckedAndTheRestStaysAsItWas) {
  const DCB dcb = Filled(12345, 2, 9, 1.0f, 0);
  EXPECT_EQ(dcb.BaudRate, 12345u);
  EXPECT_EQ(dcb.ByteSize, 9);
  EXPECT_EQ(dcb.Parity, EVENPARITY);
  EXPECT_EQ(dcb.fParity, 1u);
  const DCB driver = Filled(12345, 2, 9, 1.0f, 9);  // unknown handshake: flow control untouched
  DCB untouched;
  std::memset(&untouched, 0xA5, sizeof untouched);
  EXPECT_EQ(driver.fOutxCtsFlow, untouched.fOutxCtsFlow);
  EXPECT_EQ(driver.fRtsControl, untouched.fRtsControl);
  EXPECT_EQ(driver.fOutX, untouched.fOutX);
  EXPECT_EQ(driver.XonLim, untouched.XonLim);
  EXPECT_EQ(dcb.fDtrControl, untouched.fDtrControl);
  EXPECT_EQ(dcb.EofChar, untouched.EofChar);

  EXPECT_EQ(Filled(57600, 0, 8, 1.0f, 0).StopBits, ONESTOPBIT);
  EXPECT_EQ(Filled(57600, 0, 8, 2.0f, 0).StopBits, TWOSTOPBITS);
  for (const float other : {1.5f, 0.0f, 3.0f, std::nanf("")}) {
    EXPECT_EQ(Filled(57600, 0, 8, other, 0).StopBits, ONE5STOPBITS) << other;
  }
}

TEST(SerialDcb, Handshakes) {
  for (const int32_t code : {0, 1, 2}) {
    const DCB dcb = Filled(57600, 0, 8, 1.0f, code);
    const unsigned rts[] = {RTS_CONTROL_DISABLE, RTS_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE};
    EXPECT_EQ(dcb.fOutxCtsFlow, code == 2 ? 1u : 0u) << code;
    EXPECT_EQ(dcb.fRtsControl, rts[code]) << code;
  }
  const DCB software = Filled(57600, 0, 8, 1.0f, 3, 16);
  EXPECT_EQ(software.fOutX & software.fInX, 1u);
  EXPECT_EQ(software.XonChar, 0x11);
  EXPECT_EQ(software.XoffChar, 0x13);
  EXPECT_EQ(software.XonLim, 1);
  EXPECT_EQ(software.XoffLim, 7);
  EXPECT_EQ(Filled(57600, 0, 8, 1.0f, 3, 0).XoffLim, 0);
  EXPECT_EQ(Filled(57600, 0, 8, 1.0f, 3, -100).XonLim, 0);  // no queue, not a huge one
  EXPECT_EQ(Filled(57600, 0, 8, 1.0f, 3, 524288).XoffLim, WORD(52428 * 7));
}

}  // namespace
