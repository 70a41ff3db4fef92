#include "multiuser/DHAgreement.h"

#include <algorithm>
#include <cstring>

#include "multiuser/MultiPrecision.h"

namespace remcons {
namespace {

void WipeVector(std::vector<uint8_t>& v) {
  if (!v.empty()) mp::Wipe(v.data(), v.size());
  v.clear();
}

// value - k in length bytes, big-endian (value at least k, k below 256).
std::vector<uint8_t> Minus(const uint8_t* value, size_t length, uint8_t k) {
  std::vector<uint8_t> out(value, value + length);
  unsigned borrow = k;
  for (size_t i = length; i-- > 0 && borrow;) {
    const unsigned before = out[i];
    out[i] = static_cast<uint8_t>(before - borrow);
    borrow = before < borrow ? 1 : 0;
  }
  return out;
}

// Whether the big-endian v lies in [2, p - 2] (same length; memcmp orders them as numbers).
bool InOpenGroup(const uint8_t* v, const uint8_t* p, size_t length) {
  std::vector<uint8_t> low(length, 0);
  low[length - 1] = 2;
  const std::vector<uint8_t> high = Minus(p, length, 2);
  return std::memcmp(v, low.data(), length) >= 0 && std::memcmp(v, high.data(), length) <= 0;
}

}  // namespace

void CDHAgreement::SetSize(uint32_t bits) {
  Release();
  bits_ = bits;
  length_ = (bits + 7) / 8;
  group_.primeLen = group_.generatorLen = std::min<size_t>(length_, DHGroup::kMaxBytes);
  for (auto* v : {&privateValue_, &publicValue_, &otherPublicValue_, &agreedKey_}) {
    v->assign(length_, 0);
  }
}

int CDHAgreement::MakeGroupAndKeys() {
  if (const int status = GenerateDHGroup(&group_, bits_, bits_ / 5, random_); status != 0) {
    return status;
  }
  return MakeDHKeyPair(publicValue_.data(), privateValue_.data(), length_, group_, random_);
}

int CDHAgreement::MakeKeysIn(const DHGroup& group) {
  if (group.primeLen != length_ || group.generatorLen != length_) return mp::kErrorData;
  group_ = group;
  return MakeDHKeyPair(publicValue_.data(), privateValue_.data(), length_, group_, random_);
}

int CDHAgreement::TakeGroupAndPeerValue(const uint8_t* prime, const uint8_t* generator,
                                        const uint8_t* peer) {
  if (length_ > DHGroup::kMaxBytes) return mp::kErrorData;
  std::copy_n(prime, length_, group_.prime);
  std::copy_n(generator, length_, group_.generator);
  group_.primeLen = group_.generatorLen = length_;
  SetPeerValue(peer);
  // Nothing is computed on a group or value that no honest peer sends.
  if (!PeerValueAcceptable()) return mp::kErrorData;
  return MakeDHKeyPair(publicValue_.data(), privateValue_.data(), length_, group_, random_);
}

bool CDHAgreement::GroupAcceptable() const {
  if (length_ == 0 || length_ > DHGroup::kMaxBytes) return false;
  const uint8_t* p = group_.prime;
  if ((p[length_ - 1] & 1) == 0) return false;
  std::vector<uint8_t> four(length_, 0);
  four[length_ - 1] = 4;
  if (std::memcmp(p, four.data(), length_) <= 0) return false;
  return InOpenGroup(group_.generator, p, length_);
}

bool CDHAgreement::PeerValueAcceptable() const {
  return GroupAcceptable() && InOpenGroup(otherPublicValue_.data(), group_.prime, length_);
}

void CDHAgreement::GetPrime(uint8_t* out) const {
  std::copy_n(group_.prime, length_, out);
}

void CDHAgreement::GetGenerator(uint8_t* out) const {
  std::copy_n(group_.generator, length_, out);
}

void CDHAgreement::GetPublicValue(uint8_t* out) const {
  std::copy(publicValue_.begin(), publicValue_.end(), out);
}

void CDHAgreement::SetPeerValue(const uint8_t* in) {
  std::copy_n(in, length_, otherPublicValue_.begin());
}

int CDHAgreement::ComputeAgreedKey() {
  return ComputeDHSecret(agreedKey_.data(), otherPublicValue_.data(), privateValue_.data(), length_,
                         group_);
}

void CDHAgreement::GetAgreedKey(uint8_t* out) const {
  std::copy(agreedKey_.begin(), agreedKey_.end(), out);
}

void CDHAgreement::Release() {
  WipeVector(privateValue_);
  WipeVector(publicValue_);
  WipeVector(otherPublicValue_);
  WipeVector(agreedKey_);
  mp::Wipe(group_.prime, sizeof group_.prime);
  mp::Wipe(group_.generator, sizeof group_.generator);
  bits_ = length_ = 0;
}

}  // namespace remcons
