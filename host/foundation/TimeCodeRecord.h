// The driver's 8-byte time-code record, as the deck interface fills it.
//
//   offset 0  hours    0..23 (binary, not BCD)
//   offset 1  minutes  0..59
//   offset 2  seconds  0..59
//   offset 3  frames   0..frame rate - 1
//   offset 4  flags    32 bits; bit 0 set: the tape carries no time code at
//                      this position (the four fields are then meaningless);
//                      the other bits are reserved and ignored.
#pragma once

#include "platform/win32.h"

struct __MIDL___MIDL_itf_plgdefs_0000_0001 {
  BYTE hours;
  BYTE minutes;
  BYTE seconds;
  BYTE frames;
  DWORD flags;
};

static_assert(sizeof(__MIDL___MIDL_itf_plgdefs_0000_0001) == 8, "the driver's time-code record is 8 bytes");

// Bit 0 of the record's flags.
constexpr DWORD kTimeCodeRecordNoTimeCode = 0x1;
