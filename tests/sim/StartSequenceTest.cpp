// The server's reading of the start sequence: header or none, any split, bytes before it, the
// login forms, and the failures (unknown key index, keys that do not decipher it, no start).
#include <gtest/gtest.h>

#include <random>

#include "ConsolePeer.h"
#include "sim/StartSequence.h"

namespace remcons::sim {
namespace {

using testing::OracleStream;
using testing::StartBytes;
using testing::StartOptions;
using testing::TestKeys;

struct Parsed {
  StartSequenceParser::Status status;
  StartSequence result;
  std::string error;
  std::vector<uint8_t> rest;  // bytes after the start, deciphered with the parser's stream
};

Parsed Parse(const std::vector<uint8_t>& bytes, const std::vector<size_t>& cuts,
             const ConsoleKeys& keys, uint32_t keyIndex = 0, bool quietAtEnd = false) {
  StartSequenceParser parser([&](uint32_t index) -> const uint8_t* {
    return index == keyIndex ? keys.decryptKey.data() : nullptr;
  });
  Parsed p{StartSequenceParser::Status::kMore, {}, {}, {}};
  size_t at = 0;
  std::vector<size_t> ends = cuts;
  ends.push_back(bytes.size());
  for (size_t end : ends) {
    end = std::min(end, bytes.size());
    if (p.status != StartSequenceParser::Status::kMore) break;
    size_t used = 0;
    p.status = parser.Feed(bytes.data() + at, end - at, &used);
    if (p.status == StartSequenceParser::Status::kDone) {
      p.rest.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at + used), bytes.end());
    }
    at = end;
  }
  if (p.status == StartSequenceParser::Status::kMore && quietAtEnd) p.status = parser.Quiet();
  p.result = parser.result();
  p.error = parser.error();
  if (auto stream = parser.TakeReceiveStream()) stream->Apply(p.rest.data(), p.rest.size());
  return p;
}

TEST(StartSequenceTest, ClearAndEncipheredInEverySplitWithBytesBefore) {
  ASSERT_TRUE(remcons::testing::LoadLegacyProvider());
  const ConsoleKeys keys = TestKeys();
  const std::vector<std::vector<uint8_t>> garbage = {
      {}, {'x', 'y', 'z'}, {0x1B, '[', '7', 0x1B}, {0xFF, 0xFF, 0xC1, 0x1B, 0x1B, '['}};
  for (bool header : {false, true}) {
    for (const auto& before : garbage) {
      StartOptions o;
      o.header = header;
      o.keyIndex = 0;
      o.garbage = before;
      OracleStream send(keys.decryptKey);
      std::vector<uint8_t> bytes = StartBytes(o, header ? &send : nullptr);
      // Two commands after the start, enciphered as the stream goes on.
      std::vector<uint8_t> after = {0x1B, '[', '&', 0xFF, 0xBA};
      if (header) send.Xor(after.data(), after.size());
      bytes.insert(bytes.end(), after.begin(), after.end());
      for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        SCOPED_TRACE("header " + std::to_string(header) + ", " + std::to_string(before.size()) +
                     " bytes before, cut at " + std::to_string(cut));
        const Parsed p = Parse(bytes, {cut}, keys);
        ASSERT_EQ(p.status, StartSequenceParser::Status::kDone) << p.error;
        EXPECT_EQ(p.result.header, header);
        EXPECT_EQ(p.result.name, "user");
        EXPECT_EQ(p.result.password, "pass");
        EXPECT_EQ(p.result.crCount, 2);
        EXPECT_EQ(p.result.skipped, before.size());
        EXPECT_EQ(p.rest, (std::vector<uint8_t>{0x1B, '[', '&', 0xFF, 0xBA}));
      }
      // One byte at a time.
      std::vector<size_t> every;
      for (size_t i = 1; i < bytes.size(); ++i) every.push_back(i);
      const Parsed p = Parse(bytes, every, keys);
      ASSERT_EQ(p.status, StartSequenceParser::Status::kDone);
      EXPECT_EQ(p.rest, (std::vector<uint8_t>{0x1B, '[', '&', 0xFF, 0xBA}));
    }
  }
}

TEST(StartSequenceTest, LoginFormsEndAtTheSecondCarriageReturnOrWhenTheConsoleGoesQuiet) {
  struct LoginCase {
    std::string login;
    bool needsQuiet;
    std::string name, password;
    int crs;
  };
  const LoginCase cases[] = {
      {"", true, "", "", 0},              // a login shorter than four characters
      {"alice\r", true, "alice", "", 1},  // no ':' in the login
      {"bob\rsecret\r", false, "bob", "secret", 2},
      {"\r\r", false, "", "", 2},  // ":" alone
  };
  for (const LoginCase& c : cases) {
    SCOPED_TRACE(c.login);
    StartOptions o;
    o.header = false;
    o.login = c.login;
    const auto bytes = StartBytes(o, nullptr);
    Parsed p = Parse(bytes, {}, TestKeys());
    if (c.needsQuiet) {
      EXPECT_EQ(p.status, StartSequenceParser::Status::kMore);
      p = Parse(bytes, {}, TestKeys(), 0, true);
    }
    ASSERT_EQ(p.status, StartSequenceParser::Status::kDone);
    EXPECT_EQ(p.result.name, c.name);
    EXPECT_EQ(p.result.password, c.password);
    EXPECT_EQ(p.result.crCount, c.crs);
  }
  // Quiet before the escapes are complete does not end anything.
  StartSequenceParser parser(nullptr);
  const uint8_t partial[] = {0x1B, '[', '7', 0x1B};
  size_t used = 0;
  EXPECT_EQ(parser.Feed(partial, sizeof partial, &used), StartSequenceParser::Status::kMore);
  EXPECT_EQ(parser.Quiet(), StartSequenceParser::Status::kMore);
}

TEST(StartSequenceTest, FailuresSayWhy) {
  ASSERT_TRUE(remcons::testing::LoadLegacyProvider());
  const ConsoleKeys keys = TestKeys();
  StartOptions unknownIndex, clear;
  unknownIndex.keyIndex = 7;
  clear.header = false;
  clear.login = std::string(600, 'a');  // a login without end
  OracleStream send(keys.decryptKey), wrongKeys(TestKeys(9).decryptKey);
  std::vector<uint8_t> noise(StartSequenceParser::kMaxSkipped + 100);  // and never a start
  std::mt19937 random(1);
  for (auto& b : noise) b = static_cast<uint8_t>(random() % 0x1B);
  const std::pair<std::vector<uint8_t>, std::string> cases[] = {
      {StartBytes(unknownIndex, &send), "unknown key index 0x00000007"},
      {StartBytes({}, &wrongKeys),
       "the start sequence does not decipher with the keys of key index 0x00000000"},
      {StartBytes(clear, nullptr), "login longer than 512 bytes"},
      {noise, "no start sequence in the first 64 KiB"},
  };
  for (const auto& [bytes, error] : cases) {
    SCOPED_TRACE(error);
    const Parsed p = Parse(bytes, {1000, 30000}, keys, 0);
    EXPECT_EQ(p.status, StartSequenceParser::Status::kFailed);
    EXPECT_EQ(p.error, error);
  }
}

}  // namespace
}  // namespace remcons::sim
