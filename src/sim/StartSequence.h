// The management processor's side of the console's start sequence: an optional FF C0 header with
// the key index in clear, then ESC [ 7, ESC [ 9, ESC [ 4 and the login bytes (name CR password
// CR), enciphered with the console's send keystream when the header came. Bytes before the start
// are skipped; the sequence may arrive in any number of reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/Net.h"

namespace remcons::sim {

struct StartSequence {
  bool header = false;    // FF C0 and the key index came first
  uint32_t keyIndex = 0;  // from the header
  // The login bytes cut at carriage returns: name, password. crCount says how many came.
  std::string name;
  std::string password;
  int crCount = 0;
  size_t loginBytes = 0;  // bytes after the escapes
  size_t skipped = 0;     // bytes before the start that were not part of it
};

class StartSequenceParser {
 public:
  // The 16-byte key that the console's send stream is keyed with (its decryptKey) for a key
  // index, or nullptr when the index is unknown.
  using KeyLookup = std::function<const uint8_t*(uint32_t keyIndex)>;
  enum class Status { kMore, kDone, kFailed };

  static constexpr size_t kMaxLogin = 512;
  static constexpr size_t kMaxSkipped = 64 * 1024;

  explicit StartSequenceParser(KeyLookup lookup) : lookup_(std::move(lookup)) {}

  // Takes received bytes (as they came off the wire). On kDone, *used says how many of them the
  // start sequence took; the rest belong to the command stream and are still enciphered.
  Status Feed(const uint8_t* data, size_t n, size_t* used);
  // The console has gone quiet after the escapes: the login is complete as it stands (a console
  // whose login decodes to nothing sends no login bytes at all, and a name alone ends with one
  // CR). kMore while the escapes have not all come.
  Status Quiet();
  // True once the escapes are complete and only login bytes are awaited.
  bool InLogin() const { return state_ == State::kLogin; }

  const StartSequence& result() const { return result_; }
  const std::string& error() const { return error_; }
  // The bytes of the sequence up to the end of the escapes as they came (header in clear, the
  // rest as received); the login bytes are not kept here.
  const std::vector<uint8_t>& headerBytes() const { return headerBytes_; }
  // The console's send stream after the start sequence (the header came), else nullptr.
  std::unique_ptr<RC4Stream> TakeReceiveStream() { return std::move(stream_); }

 private:
  enum class State { kHunt, kEscapes, kLogin, kDone, kFailed };
  Status Fail(std::string why);
  void Hunt(uint8_t byte);
  void Login(uint8_t byte);

  KeyLookup lookup_;
  State state_ = State::kHunt;
  std::vector<uint8_t> hunt_;  // bytes that may still begin the start
  size_t escapes_ = 0;         // enciphered escape bytes checked
  std::unique_ptr<RC4Stream> stream_;
  StartSequence result_;
  std::vector<uint8_t> headerBytes_;
  std::string error_;
};

}  // namespace remcons::sim
