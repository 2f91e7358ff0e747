#include "io/serial_settings_win32.h"

namespace rt {

void SerialFillDcb(DCB* dcb, int32_t baud, int32_t parity, int32_t dataBits, float stops, int32_t handshake,
                   int64_t inSize) {
  dcb->BaudRate = static_cast<DWORD>(baud);
  dcb->ByteSize = static_cast<BYTE>(dataBits);
  dcb->Parity = static_cast<BYTE>(parity);  // the runtime's codes are the Win32 ones
  dcb->fParity = TRUE;
  if (stops == 1.0f) {
    dcb->StopBits = ONESTOPBIT;
  } else if (stops == 2.0f) {
    dcb->StopBits = TWOSTOPBITS;
  } else {
    dcb->StopBits = ONE5STOPBITS;  // 1.5, and whatever else (NaN included)
  }
  switch (handshake) {
    case 0:
      dcb->fOutxCtsFlow = FALSE;
      dcb->fRtsControl = RTS_CONTROL_DISABLE;
      break;
    case 1:
      dcb->fOutxCtsFlow = FALSE;
      dcb->fRtsControl = RTS_CONTROL_ENABLE;
      break;
    case 2:
      dcb->fOutxCtsFlow = TRUE;
      dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
      break;
    case 3: {
      dcb->fOutX = TRUE;
      dcb->fInX = TRUE;
      dcb->XonChar = 0x11;
      dcb->XoffChar = 0x13;
      // A negative queue size means no queue, not one of 6553 bytes.
      const WORD xon = static_cast<WORD>(inSize > 0 ? inSize / 10 : 0);
      dcb->XonLim = xon;
      dcb->XoffLim = static_cast<WORD>(xon * 7);
      break;
    }
    default:
      break;
  }
}

}  // namespace rt
