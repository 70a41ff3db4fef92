// mpsim: the management processor simulator as a program. A thin main around the simulator's
// library: parse the options, start the console service (and the virtual-media side when a
// --vm-* option asks for it, the BOOT and FAULT buffers with --buffer-port), print the ports,
// run until interrupted or until the asked number of sessions has ended.
#include <cstdio>
#include <memory>
#include <string>

#include "platform/StopSignals.h"
#include "sim/BufferService.h"
#include "sim/ConsoleServer.h"
#include "sim/MpsimCommandLine.h"
#include "sim/VmInitiator.h"

using namespace remcons::sim;

int main(int argc, char** argv) {
  MpsimCommandLine cl;
  std::string error;
  if (!ParseMpsimCommandLine(argc, argv, &cl, &error)) {
    std::fprintf(stderr, "mpsim: %s\n", error.c_str());
    return 2;
  }
  if (cl.help) {
    std::fputs(MpsimUsage().c_str(), stdout);
    return 0;
  }

  // Signals are taken by this thread alone, between its looks at the sessions below.
  remcons::StopSignals signals;

  ConsoleServer console(cl.console);
  if (!console.Start(&error)) {
    std::fprintf(stderr, "mpsim: %s\n", error.c_str());
    return 1;
  }
  std::printf("mpsim: console service on %s:%u\n", cl.console.bind.c_str(), console.Port());
  std::unique_ptr<VmSimServer> vm;
  if (cl.vm.enabled) {
    vm = std::make_unique<VmSimServer>(cl.vm);
    if (!vm->Start()) {
      std::fprintf(stderr, "mpsim: cannot listen for virtual media on port %u\n", cl.vm.port);
      console.Stop();
      return 1;
    }
    std::printf("mpsim: virtual media on %s:%u\n", cl.vm.bind.c_str(), vm->Port());
  }
  std::unique_ptr<BufferServer> buffers;
  if (cl.buffersEnabled) {
    cl.buffers.bind = cl.console.bind;
    cl.buffers.screen = cl.console.screen;
    buffers = std::make_unique<BufferServer>(cl.buffers);
    if (!buffers->Start(&error)) {
      std::fprintf(stderr, "mpsim: %s\n", error.c_str());
      if (vm) vm->Stop();
      console.Stop();
      return 1;
    }
    std::printf("mpsim: BOOT and FAULT buffers on %s:%u%s\n", cl.buffers.bind.c_str(),
                buffers->Port(), cl.buffers.key.empty() ? "" : " (enciphered)");
  }
  std::fflush(stdout);

  int signal = 0;
  for (;;) {
    signal = signals.Wait(100);
    if (signal > 0) break;
    if (cl.sessions > 0 && console.Counters().closed >= static_cast<uint64_t>(cl.sessions)) {
      break;
    }
  }
  if (buffers) buffers->Stop();
  if (vm) vm->Stop();
  console.Stop();
  const ConsoleCounters c = console.Counters();
  std::fprintf(
      stderr, "mpsim: %llu connections, %llu sessions, %llu bytes sent, %llu received%s\n",
      static_cast<unsigned long long>(c.connections), static_cast<unsigned long long>(c.sessions),
      static_cast<unsigned long long>(c.bytesSent),
      static_cast<unsigned long long>(c.bytesReceived), signal > 0 ? " (interrupted)" : "");
  return 0;
}
