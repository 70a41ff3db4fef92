// The 48 states of the video stream decoder and the constant state table. The numbers and the
// successors are part of the stream format: the server's encoder walks the same table.
#pragma once

#include <array>
#include <cstdint>

namespace remcons::vstate {

enum VideoState : int32_t {
  RESET = 0,
  START = 1,
  PIXELS = 2,
  PIXLRU1 = 3,
  PIXLRU0 = 4,
  PIXCODE1 = 5,
  PIXCODE2 = 6,
  PIXCODE3 = 7,
  PIXGREY = 8,
  PIXRGBR = 9,
  PIXRPT = 10,
  PIXRPT1 = 11,
  PIXRPTSTD1 = 12,
  PIXRPTSTD2 = 13,
  PIXRPTNSTD = 14,
  CMD = 15,
  CMD0 = 16,
  MOVEXY0 = 17,
  EXTCMD = 18,
  CMDX = 19,
  MOVESHORTX = 20,
  MOVELONGX = 21,
  BLKRPT = 22,
  EXTCMD1 = 23,
  FIRMWARE = 24,
  EXTCMD2 = 25,
  MODE0 = 26,
  TIMEOUT = 27,
  BLKRPT1 = 28,
  BLKRPTSTD = 29,
  BLKRPTNSTD = 30,
  PIXFAN = 31,
  PIXCODE4 = 32,
  PIXDUP = 33,
  BLKDUP = 34,
  PIXCODE = 35,
  PIXSPEC = 36,
  EXIT = 37,
  LATCHED = 38,
  MOVEXY1 = 39,
  MODE1 = 40,
  PIXRGBG = 41,
  PIXRGBB = 42,
  HUNT = 43,
  PRINT0 = 44,
  PRINT1 = 45,
  CORP = 46,
  MODE2 = 47,
};

inline constexpr int kStateCount = 48;

// Index bits read by a cached-colour state; 0 for any other state.
constexpr uint32_t CacheIndexBits(int32_t state) {
  switch (state) {
    case PIXCODE1:
      return 1;
    case PIXCODE2:
      return 2;
    case PIXCODE3:
      return 3;
    case PIXCODE4:
      return 4;
    default:
      return 0;
  }
}

struct StateRecord {
  const char* name;
  int32_t bits;   // bits read in this state, 0 to 8
  int32_t next0;  // successor when the code read is 0
  int32_t next1;  // successor for any other code
};

using StateTable = std::array<StateRecord, kStateCount>;

// The constant table; each decoder works on its own copy because next1 of PIXFAN is rewritten.
inline constexpr StateTable kStateTable = {{
    {"RESET", 0, START, START},
    {"START", 1, PIXELS, CMD},
    {"PIXELS", 1, PIXFAN, PIXLRU1},
    {"PIXLRU1", 1, PIXELS, PIXRPT1},
    {"PIXLRU0", 1, PIXELS, PIXRPT1},
    {"PIXCODE1", 1, PIXRPT, PIXRPT},
    {"PIXCODE2", 2, PIXRPT, PIXRPT},
    {"PIXCODE3", 3, PIXRPT, PIXRPT},
    {"PIXGREY", 4, PIXRPT, PIXRPT},
    {"PIXRGBR", 4, PIXRGBG, PIXRGBG},
    {"PIXRPT", 1, PIXELS, PIXRPT1},
    {"PIXRPT1", 1, PIXDUP, PIXRPTSTD1},
    {"PIXRPTSTD1", 3, PIXELS, PIXELS},
    {"PIXRPTSTD2", 3, PIXELS, PIXELS},
    {"PIXRPTNSTD", 8, PIXELS, PIXELS},
    {"CMD", 1, CMD0, MOVEXY0},
    {"CMD0", 1, CMDX, EXTCMD},
    {"MOVEXY0", 7, MOVEXY1, MOVEXY1},
    {"EXTCMD", 1, BLKRPT, EXTCMD1},
    {"CMDX", 1, MOVESHORTX, MOVELONGX},
    {"MOVESHORTX", 3, START, START},
    {"MOVELONGX", 7, START, START},
    {"BLKRPT", 1, BLKDUP, BLKRPT1},
    {"EXTCMD1", 1, EXTCMD2, FIRMWARE},
    {"FIRMWARE", 8, CORP, CORP},
    {"EXTCMD2", 1, MODE0, TIMEOUT},
    {"MODE0", 7, MODE1, MODE1},
    {"TIMEOUT", 0, START, START},
    {"BLKRPT1", 1, BLKRPTSTD, BLKRPTNSTD},
    {"BLKRPTSTD", 3, START, START},
    {"BLKRPTNSTD", 7, START, START},
    {"PIXFAN", 1, PIXSPEC, PIXCODE},
    {"PIXCODE4", 4, PIXRPT, PIXRPT},
    {"PIXDUP", 0, PIXELS, PIXELS},
    {"BLKDUP", 0, START, START},
    {"PIXCODE", 0, PIXCODE, PIXCODE},
    {"PIXSPEC", 1, PIXGREY, PIXRGBR},
    {"EXIT", 0, EXIT, EXIT},
    {"LATCHED", 1, LATCHED, LATCHED},
    {"MOVEXY1", 7, START, START},
    {"MODE1", 7, MODE2, MODE2},
    {"PIXRGBG", 4, PIXRGBB, PIXRGBB},
    {"PIXRGBB", 4, PIXRPT, PIXRPT},
    {"HUNT", 1, HUNT, RESET},
    {"PRINT0", 8, PRINT1, PRINT1},
    {"PRINT1", 8, PRINT1, PRINT1},
    {"CORP", 1, START, FIRMWARE},
    {"MODE2", 4, START, START},
}};

}  // namespace remcons::vstate
