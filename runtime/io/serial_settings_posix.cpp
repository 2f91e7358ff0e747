#include "io/serial_settings_posix.h"

#include <cstring>
#include <iterator>

namespace rt {

namespace {

struct BaudCode {
  int32_t baud;
  tcflag_t code;
};

// The rates every serial driver offers; higher ones are left out on purpose
// because the speed travels only in the control word's speed bits.
constexpr BaudCode kBauds[] = {
    {0, B0},         {50, B50},       {75, B75},       {110, B110},   {150, B150},     {300, B300},
    {600, B600},     {1200, B1200},   {1800, B1800},   {2400, B2400}, {4800, B4800},   {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

bool SpeedCode(int32_t baud, tcflag_t* code) {
  for (const BaudCode& entry : kBauds) {
    if (entry.baud == baud) {
      *code = entry.code;
      return true;
    }
  }
  return false;
}

bool SizeCode(int32_t dataBits, tcflag_t* code) {
  switch (dataBits) {
    case 5: *code = CS5; return true;
    case 6: *code = CS6; return true;
    case 7: *code = CS7; return true;
    case 8: *code = CS8; return true;
    default: return false;
  }
}

tcflag_t ParityFlags(int32_t parity) {
  switch (parity) {
    case 1: return PARENB | PARODD;
    case 2: return PARENB;
    case 3: return CMSPAR | PARENB | PARODD;
    case 4: return CMSPAR | PARENB;
    default: return 0;
  }
}

}  // namespace

bool SerialBuildTermios(int32_t baud, int32_t parity, int32_t dataBits, float stops, int32_t handshake,
                        termios* settings) {
  tcflag_t speed = 0;
  tcflag_t size = 0;
  if (!SpeedCode(baud, &speed) || !SizeCode(dataBits, &size) || handshake < 0 || handshake > 3) return false;

  tcflag_t control = speed | size | ParityFlags(parity);
  if (!(stops == 1.0f)) control |= CSTOPB;  // NaN compares unequal too
  if (handshake == 2) control |= CRTSCTS;

  termios t;
  std::memset(&t, 0, sizeof t);
  t.c_iflag = IGNPAR;
  if (handshake == 3) t.c_iflag |= IXON | IXOFF | IXANY;
  t.c_oflag = 0;
  t.c_cflag = control | CREAD | CLOCAL;
  t.c_lflag = 0;  // non-canonical, no echo, no signals
  t.c_cc[VEOF] = 4;
  t.c_cc[VMIN] = 1;
  t.c_cc[VSTART] = 0x15;
  t.c_cc[VSTOP] = 0x17;
  *settings = t;
  return true;
}

}  // namespace rt
