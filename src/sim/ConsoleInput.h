// What the management processor receives after the start reply: the console's bytes, deciphered
// with its send keystream and cut into packets.
//
// Key changes. The console steps its send keystream when its decoder meets the key change
// command, between two of its writes, at a moment the server cannot see exactly: after the
// server has sent the command and before (or very soon after) the server has seen the console
// read it. Bytes that arrive in that window are held back. Once the read is confirmed and a grace
// period has passed, the window is resolved: every packet boundary of the bytes deciphered with
// the old keystream is a candidate for the switch, the rest deciphered with the new keystream;
// the candidate whose two parts look most like what a console sends wins (FF and ESC [ commands
// are near proof, noise counts against), ties going to the boundary nearest the moment the read
// was confirmed. Nothing is lost: the held bytes are parsed once the switch is placed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "net/Net.h"
#include "sim/ClientPackets.h"

namespace remcons::sim {

class ConsoleInput {
 public:
  struct Options {
    uint32_t packetTimeoutMs = 1000;  // an incomplete packet is dropped after this quiet time
    uint32_t keyChangeGraceMs = 50;   // how long after the confirmed read a switch may still come
  };
  static constexpr size_t kMaxHeld = 16 * 1024;

  // stream: the console's send keystream where the start sequence left it, or nullptr in a clear
  // session; sessionKey: the key it was made from (16 bytes), for the later generations.
  ConsoleInput(std::unique_ptr<RC4Stream> stream, const uint8_t* sessionKey, Options options);

  // Received bytes (as they came off the wire) at nowMs; completed packets are appended to out.
  void Feed(const uint8_t* data, size_t n, uint32_t nowMs, std::vector<ClientPacket>* out);
  // Time passes without bytes: drops an incomplete packet after the packet time-out and resolves
  // a key change whose grace period is over.
  void Tick(uint32_t nowMs, std::vector<ClientPacket>* out);

  // The server is about to send a key change command (call before sending it).
  void BeginKeyChange(uint32_t nowMs);
  // The console has read the command (or the server gives up waiting) at nowMs.
  void ConfirmKeyChange(uint32_t nowMs);
  // A key change awaits resolution.
  bool KeyChangePending() const;
  // Key generation of the console's send stream (0 after the start).
  int generation() const;

 private:
  void Decipher(const uint8_t* data, size_t n, uint32_t nowMs, std::vector<ClientPacket>* out);
  void Resolve(std::vector<ClientPacket>* out);
  std::unique_ptr<RC4Stream> StreamOfGeneration(int generation) const;

  mutable std::mutex mutex_;
  Options options_;
  bool enciphered_;
  uint8_t sessionKey_[RC4Stream::kKeySize] = {};
  std::unique_ptr<RC4Stream> stream_;
  int generation_ = 0;
  ClientStreamParser parser_;
  uint32_t lastByteMs_ = 0;

  // A key change in progress.
  bool pending_ = false;
  bool confirmed_ = false;
  uint32_t confirmMs_ = 0;
  size_t confirmOffset_ = 0;  // held bytes that had arrived when the read was confirmed
  std::vector<uint8_t> held_;
};

}  // namespace remcons::sim
