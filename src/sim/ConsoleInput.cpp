#include "sim/ConsoleInput.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace remcons::sim {

ConsoleInput::ConsoleInput(std::unique_ptr<RC4Stream> stream, const uint8_t* sessionKey,
                           Options options)
    : options_(options), enciphered_(stream != nullptr), stream_(std::move(stream)) {
  if (sessionKey) std::memcpy(sessionKey_, sessionKey, sizeof sessionKey_);
}

std::unique_ptr<RC4Stream> ConsoleInput::StreamOfGeneration(int generation) const {
  auto stream = std::make_unique<RC4Stream>(sessionKey_);
  for (int i = 0; i < generation; ++i) stream->Rekey();
  return stream;
}

void ConsoleInput::Decipher(const uint8_t* data, size_t n, uint32_t nowMs,
                            std::vector<ClientPacket>* out) {
  std::vector<uint8_t> plain(data, data + n);
  if (stream_) stream_->Apply(plain.data(), plain.size());
  parser_.Feed(plain.data(), plain.size(), out);
  lastByteMs_ = nowMs;
}

void ConsoleInput::Feed(const uint8_t* data, size_t n, uint32_t nowMs,
                        std::vector<ClientPacket>* out) {
  std::lock_guard lock(mutex_);
  if (!pending_) {
    Decipher(data, n, nowMs, out);
    return;
  }
  held_.insert(held_.end(), data, data + n);
  lastByteMs_ = nowMs;
  if (held_.size() > kMaxHeld) {
    // A flood while waiting: place the switch now rather than hold without bound.
    if (!confirmed_) confirmOffset_ = held_.size();
    Resolve(out);
  } else if (confirmed_ && nowMs - confirmMs_ >= options_.keyChangeGraceMs) {
    Resolve(out);
  }
}

void ConsoleInput::Tick(uint32_t nowMs, std::vector<ClientPacket>* out) {
  std::lock_guard lock(mutex_);
  if (pending_) {
    if (confirmed_ && nowMs - confirmMs_ >= options_.keyChangeGraceMs) Resolve(out);
    return;
  }
  if (!parser_.AtBoundary() && nowMs - lastByteMs_ >= options_.packetTimeoutMs) {
    parser_.FlushPending(out);
  }
}

void ConsoleInput::BeginKeyChange(uint32_t /*nowMs*/) {
  std::lock_guard lock(mutex_);
  if (!enciphered_) {
    // The console steps its streams all the same; they are just not used.
    ++generation_;
    return;
  }
  if (pending_) {
    std::vector<ClientPacket> ignored;
    Resolve(&ignored);
  }
  pending_ = true;
  confirmed_ = false;
  held_.clear();
}

void ConsoleInput::ConfirmKeyChange(uint32_t nowMs) {
  std::lock_guard lock(mutex_);
  if (!pending_ || confirmed_) return;
  confirmed_ = true;
  confirmMs_ = nowMs;
  confirmOffset_ = held_.size();
}

bool ConsoleInput::KeyChangePending() const {
  std::lock_guard lock(mutex_);
  return pending_;
}

int ConsoleInput::generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

void ConsoleInput::Resolve(std::vector<ClientPacket>* out) {
  pending_ = false;
  const size_t n = held_.size();
  std::vector<uint8_t> oldPlain(held_);
  stream_->Apply(oldPlain.data(), n);

  // Packet boundaries of the old reading, with the plausibility of everything before each.
  struct Candidate {
    size_t offset;
    int score;
  };
  std::vector<Candidate> candidates;
  ClientStreamParser probe = parser_;
  std::vector<ClientPacket> packets;
  int score = 0;
  int noise = 0;
  if (probe.AtBoundary()) candidates.push_back({0, 0});
  // Once the old reading has turned to noise the switch lies behind: a few more boundaries
  // are looked at, not the whole rest.
  constexpr int kNoiseAfterSwitch = 4;
  for (size_t i = 0; i < n && noise < kNoiseAfterSwitch; ++i) {
    packets.clear();
    probe.Feed(&oldPlain[i], 1, &packets);
    for (const ClientPacket& p : packets) {
      const int plausibility = PacketPlausibility(p);
      score += plausibility;
      if (plausibility < 0) ++noise;
    }
    if (probe.AtBoundary()) candidates.push_back({i + 1, score});
  }
  if (candidates.empty()) candidates.push_back({n, score});  // the console never got to switch

  // Each candidate is judged by what lies near it: the old reading of the kJudged bytes before
  // it and the new reading of the kJudged bytes after it. Right at the true switch both read
  // well; before it the new key reads old bytes as noise, after it the old key reads new ones.
  constexpr size_t kJudged = 128;
  std::vector<uint8_t> newKeystream(kJudged, 0);
  StreamOfGeneration(generation_ + 1)->Apply(newKeystream.data(), kJudged);
  const auto scoreAt = [&](size_t offset) {
    // The score of the old reading at the last boundary at or before offset.
    auto it = std::upper_bound(candidates.begin(), candidates.end(), offset,
                               [](size_t o, const Candidate& c) { return o < c.offset; });
    return it == candidates.begin() ? 0 : std::prev(it)->score;
  };
  size_t best = n;
  int bestScore = std::numeric_limits<int>::min();
  size_t bestDistance = 0;
  for (const Candidate& c : candidates) {
    int total = c.score - (c.offset > kJudged ? scoreAt(c.offset - kJudged) : 0);
    const size_t length = std::min(kJudged, n - c.offset);
    std::vector<uint8_t> newPlain(held_.begin() + static_cast<std::ptrdiff_t>(c.offset),
                                  held_.begin() + static_cast<std::ptrdiff_t>(c.offset + length));
    for (size_t i = 0; i < length; ++i) newPlain[i] ^= newKeystream[i];
    ClientStreamParser fresh;
    packets.clear();
    fresh.Feed(newPlain.data(), newPlain.size(), &packets);
    for (const ClientPacket& p : packets) total += PacketPlausibility(p);
    const size_t distance =
        c.offset > confirmOffset_ ? c.offset - confirmOffset_ : confirmOffset_ - c.offset;
    if (total > bestScore || (total == bestScore && distance < bestDistance)) {
      best = c.offset;
      bestScore = total;
      bestDistance = distance;
    }
  }

  parser_.Feed(oldPlain.data(), best, out);
  ++generation_;
  stream_ = StreamOfGeneration(generation_);
  std::vector<uint8_t> rest(held_.begin() + static_cast<std::ptrdiff_t>(best), held_.end());
  held_.clear();
  stream_->Apply(rest.data(), rest.size());
  parser_.Feed(rest.data(), rest.size(), out);
}

}  // namespace remcons::sim
