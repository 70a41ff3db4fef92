// CDHAgreement: one end's anonymous Diffie-Hellman key agreement on a multi-user link. The joiner
// makes the group and both ends make a key pair in it; each computes the agreed secret from the
// other's public value. Every buffer is `length` bytes, most significant byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "multiuser/DHGroup.h"
#include "multiuser/RandomPool.h"

namespace remcons {

class CDHAgreement {
 public:
  explicit CDHAgreement(RandomPool& random) : random_(random) {}
  ~CDHAgreement() { Release(); }
  CDHAgreement(const CDHAgreement&) = delete;
  CDHAgreement& operator=(const CDHAgreement&) = delete;

  // Sets the prime's size in bits and makes the buffers of (bits + 7) / 8 bytes.
  void SetSize(uint32_t bits);
  // A new group of `bits` bits (subprime of bits / 5 bits), then a key pair: 0 or the error code.
  int MakeGroupAndKeys();
  // A key pair in a group of this size made earlier: 0 or the error code.
  int MakeKeysIn(const DHGroup& group);
  // Takes the peer's group and public value (length bytes each), then makes a key pair in it.
  // kErrorData, with no key pair made, when the group or the value is not acceptable (below).
  int TakeGroupAndPeerValue(const uint8_t* prime, const uint8_t* generator, const uint8_t* peer);
  // Whether the group can be computed in: p odd and above 3, g in [2, p - 2].
  bool GroupAcceptable() const;
  // Whether the peer's public value lies in [2, p - 2]; others would give a trivial secret.
  bool PeerValueAcceptable() const;

  void GetPrime(uint8_t* out) const;
  void GetGenerator(uint8_t* out) const;
  void GetPublicValue(uint8_t* out) const;
  void SetPeerValue(const uint8_t* in);
  // K = peer^x mod p: 0, or kErrorData when the peer's value is not below p (K stays unwritten).
  int ComputeAgreedKey();
  void GetAgreedKey(uint8_t* out) const;
  // Wipes and frees the buffers.
  void Release();

  uint32_t bits() const { return bits_; }
  uint32_t length() const { return length_; }

 private:
  RandomPool& random_;
  DHGroup group_;
  uint32_t bits_ = 0;
  uint32_t length_ = 0;
  std::vector<uint8_t> privateValue_, publicValue_, otherPublicValue_, agreedKey_;
};

}  // namespace remcons
