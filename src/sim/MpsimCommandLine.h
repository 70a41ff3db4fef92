// The command line of the mpsim program: the console service's options and the virtual-media
// side's (--vm-*), parsed into the library's option structs.
#pragma once

#include <string>

#include "sim/BufferService.h"
#include "sim/ConsoleServer.h"
#include "sim/VmInitiator.h"

namespace remcons::sim {

struct MpsimCommandLine {
  ConsoleServerOptions console;
  VmSimOptions vm;
  BufferServiceOptions buffers;  // the screen's options are the console's
  bool buffersEnabled = false;   // --buffer-port given
  int sessions = 0;  // --sessions N: exit after N console connections have ended (0: never)
  bool help = false;
};

// Parses argv[1..argc-1]. False with error (one line) on a bad option; the console port defaults
// to 23 here, and the screen and timing to the library's defaults.
bool ParseMpsimCommandLine(int argc, char** argv, MpsimCommandLine* out, std::string* error);
std::string MpsimUsage();

}  // namespace remcons::sim
