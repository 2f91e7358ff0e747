// The line settings as written into the driver's control block. What the
// driver then makes of them (Wine's pseudo-terminals keep only some) is the
// update round's business; here every rule is seen in the block itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstring>

#include "io/serial_settings_win32.h"

namespace {

// A block as a driver might report it: every byte 0xA5.
DCB DriverBlock() {
  DCB dcb;
  std::memset(&dcb, 0xA5, sizeof dcb);
  return dcb;
}

DCB Filled(int32_t baud, int32_t parity, int32_t dataBits, float stops, int32_t handshake, int64_t inSize = 16) {
  DCB dcb = DriverBlock();
  rt::SerialFillDcb(&dcb, baud, parity, dataBits, stops, handshake, inSize);
  return dcb;
}

TEST(SerialDcb, RateSizeAndParityGoToTheDriverUnchecked) {
  const DCB dcb = Filled(12345, 2, 9, 1.0f, 0);
  EXPECT_EQ(dcb.BaudRate, 12345u);
  EXPECT_EQ(dcb.ByteSize, 9);
  EXPECT_EQ(dcb.Parity, EVENPARITY);
  EXPECT_EQ(dcb.fParity, 1u);
  EXPECT_EQ(Filled(57600, 1, 8, 1.0f, 0).Parity, ODDPARITY);
  EXPECT_EQ(Filled(57600, 0, 8, 1.0f, 0).fParity, 1u);  // set whatever the parity

  // Fields no setting names keep the driver's values.
  const DCB driver = DriverBlock();
  EXPECT_EQ(dcb.fBinary, driver.fBinary);
  EXPECT_EQ(dcb.fDtrControl, driver.fDtrControl);
  EXPECT_EQ(dcb.fOutxDsrFlow, driver.fOutxDsrFlow);
  EXPECT_EQ(dcb.fAbortOnError, driver.fAbortOnError);
  EXPECT_EQ(dcb.EofChar, driver.EofChar);
  EXPECT_EQ(dcb.EvtChar, driver.EvtChar);
  EXPECT_EQ(dcb.ErrorChar, driver.ErrorChar);
  EXPECT_EQ(dcb.fOutX, driver.fOutX);
  EXPECT_EQ(dcb.XonLim, driver.XonLim);
}

TEST(SerialDcb, StopBits) {
  EXPECT_EQ(Filled(57600, 0, 8, 1.0f, 0).StopBits, ONESTOPBIT);
  EXPECT_EQ(Filled(57600, 0, 8, 2.0f, 0).StopBits, TWOSTOPBITS);
  for (const float other : {1.5f, 0.0f, 3.0f, std::nanf("")}) {
    EXPECT_EQ(Filled(57600, 0, 8, other, 0).StopBits, ONE5STOPBITS) << other;
  }
}

TEST(SerialDcb, Handshakes) {
  const DCB none = Filled(57600, 0, 8, 1.0f, 0);
  EXPECT_EQ(none.fOutxCtsFlow, 0u);
  EXPECT_EQ(none.fRtsControl, unsigned(RTS_CONTROL_DISABLE));
  const DCB rts = Filled(57600, 0, 8, 1.0f, 1);
  EXPECT_EQ(rts.fOutxCtsFlow, 0u);
  EXPECT_EQ(rts.fRtsControl, unsigned(RTS_CONTROL_ENABLE));
  const DCB hardware = Filled(57600, 0, 8, 1.0f, 2);
  EXPECT_EQ(hardware.fOutxCtsFlow, 1u);
  EXPECT_EQ(hardware.fRtsControl, unsigned(RTS_CONTROL_HANDSHAKE));
  EXPECT_EQ(hardware.fOutX, DriverBlock().fOutX);

  const DCB software = Filled(57600, 0, 8, 1.0f, 3, 16);
  EXPECT_EQ(software.fOutX, 1u);
  EXPECT_EQ(software.fInX, 1u);
  EXPECT_EQ(software.XonChar, 0x11);
  EXPECT_EQ(software.XoffChar, 0x13);
  EXPECT_EQ(software.XonLim, 1);
  EXPECT_EQ(software.XoffLim, 7);
  EXPECT_EQ(software.fOutxCtsFlow, DriverBlock().fOutxCtsFlow);
  EXPECT_EQ(software.fRtsControl, DriverBlock().fRtsControl);
  EXPECT_EQ(Filled(57600, 0, 8, 1.0f, 3, 0).XonLim, 0);
  EXPECT_EQ(Filled(57600, 0, 8, 1.0f, 3, 0).XoffLim, 0);
  EXPECT_EQ(Filled(57600, 0, 8, 1.0f, 3, -100).XonLim, 0);  // no queue, not a huge one
  EXPECT_EQ(Filled(57600, 0, 8, 1.0f, 3, 524288).XonLim, 52428);
  EXPECT_EQ(Filled(57600, 0, 8, 1.0f, 3, 524288).XoffLim, WORD(52428 * 7));

  // Any other code leaves flow control as the driver had it.
  const DCB unknown = Filled(57600, 0, 8, 1.0f, 9);
  const DCB driver = DriverBlock();
  EXPECT_EQ(unknown.fOutxCtsFlow, driver.fOutxCtsFlow);
  EXPECT_EQ(unknown.fRtsControl, driver.fRtsControl);
  EXPECT_EQ(unknown.fOutX, driver.fOutX);
  EXPECT_EQ(unknown.fInX, driver.fInX);
}

}  // namespace
