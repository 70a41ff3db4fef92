// The session leader's server over loopback with joiners written byte by byte: refusals, the gate
// on the input of joiners without control, and hostile joiners that must leave it serving.
// Admission, the relay, control and the session's close between whole consoles are the session's
// tests against the simulator.
#include <gtest/gtest.h>

#include <algorithm>

#include "multiuser/LinkRig.h"
#include "multiuser/MUServer.h"
#include "support/FakeHost.h"
#include "support/TraceCapture.h"
#include "support/Wait.h"

namespace remcons {
namespace {

using testing::Bytes;
using testing::Contains;
using testing::Decoded;
using testing::TestJoiner;
using testing::WaitUntil;

const Bytes kRefresh = {0x1B, 0x5B, 0x7E};
const Bytes kHidReport = {0xFF, 0xD6, 0, 0, 0x04, 0xFF, 0xCB, 0, 0, 0};  // FF CB inside: no request

struct LeaderRig {
  explicit LeaderRig(uint32_t sendTimeoutMs = 2000) {
    testing::SeedPool(pool, 1);
    host.answer = [this](const testing::FakeHost::Box& box) {
      return box.caption == "New User" ? newUser.load() : box.caption == "Request" ? kIdYes : kIdOk;
    };
    server = std::make_unique<MUServer>(
        owner, host, pool,
        MUServerOptions{.bindAddress = "127.0.0.1", .port = 0, .sendTimeoutMs = sendTimeoutMs});
  }
  ~LeaderRig() { server->Stop(); }

  // A joiner through the key agreement and login, accepted as name in slot (or left pending).
  std::unique_ptr<TestJoiner> Join(int slot, const std::string& name, bool accept = true) {
    auto joiner = std::make_unique<TestJoiner>(server->port());
    EXPECT_TRUE(joiner->Join(pool, name + "\rpw\r"));
    Bytes request = {0xFF, 0xCA, static_cast<uint8_t>('0' + slot)};
    request.insert(request.end(), name.begin(), name.end());
    EXPECT_TRUE(owner.WaitWritten(request));
    // The texts name the host the lookup found, or the address.
    auto client = server->SlotClient(slot);
    EXPECT_TRUE(client && WaitUntil([&] { return client->LookupDone(); }));
    if (accept) {
      server->OnJoinAnswer(std::to_string(slot) + name + ":77");
      EXPECT_EQ(joiner->ReceiveAtLeast(testing::kSyncAccepted.size()), testing::kSyncAccepted);
    }
    return joiner;
  }
  bool Closed(TestJoiner& joiner, const std::string& status) {
    return joiner.WaitClosed() &&
           std::ranges::count(Decoded(joiner.received()), "status:" + status);
  }

  RandomPool pool;
  testing::FakeOwner owner;
  testing::FakeHost host;
  std::atomic<int> newUser{kIdAccept};
  std::unique_ptr<MUServer> server;
};

// Denied, full, not accepting, hostile: each link ends at the leader, which goes on serving.
TEST(MUServer, RefusesDeniedFullAndHostileJoinersAndGoesOnServing) {
  LeaderRig rig;
  rig.newUser = kIdDeny;
  auto denied = rig.Join(0, "mallory", false);
  rig.server->OnJoinAnswer("0mallory");
  EXPECT_TRUE(rig.Closed(*denied, "The session leader has terminated your connection."));
  ASSERT_TRUE(WaitUntil([&] { return rig.server->SlotClient(0) == nullptr; }));
  // Denied: the status text says so, the management processor hears of no join and no departure.
  EXPECT_TRUE(rig.owner.Status2().starts_with("User \"\" (") &&
              rig.owner.Status2().ends_with(") disconnected"));
  EXPECT_FALSE(Contains(rig.owner.Written(), {0xFF, 0xCF}));

  CDHAgreement dh(rig.pool);
  dh.SetSize(512);
  ASSERT_EQ(dh.MakeGroupAndKeys(), 0);
  const Bytes group = testing::AdhRequest(dh);
  auto with = [&](size_t at, Bytes value) {
    Bytes b = group;
    std::copy(value.begin(), value.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
  };
  Bytes one(64, 0), pMinus1(group.begin() + 3, group.begin() + 67);
  one[63] = 1;
  pMinus1[63] ^= 1;
  const std::pair<const char*, Bytes> cases[] = {
      {"n = 0", {0xFF, 0xC8, 0}},
      {"n = 129", {0xFF, 0xC8, 129}},
      {"even prime", with(66, {static_cast<uint8_t>(group[66] & 0xFE)})},
      {"public value 1", with(131, one)},
      {"public value p - 1", with(131, pMinus1)},
      {"login before ADH", {0xFF, 0xCA, 'x', 0}},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    TestJoiner hostile(rig.server->port());
    hostile.SendPlain(bytes);
    EXPECT_TRUE(hostile.WaitClosed());
  }
  // Truncated values, then gone; a login that never ends.
  TestJoiner(rig.server->port()).SendPlain(Bytes(group.begin(), group.begin() + 100));
  TestJoiner endless(rig.server->port());
  ASSERT_TRUE(endless.Join(rig.pool, std::string(1100, 'x')));
  EXPECT_TRUE(endless.WaitClosed());
  ASSERT_TRUE(WaitUntil([&] {
    return !rig.server->SlotClient(0) && !rig.server->SlotClient(1) && !rig.server->SlotClient(2);
  }));

  // Three pending joiners fill the slots; a fourth gets FF CD, and with the lock FF CE.
  rig.newUser = kIdAccept;
  std::vector<std::unique_ptr<TestJoiner>> joiners;
  for (int i = 0; i < 3; ++i) joiners.push_back(rig.Join(i, "u" + std::to_string(i), i == 0));
  for (bool accepting : {true, false}) {
    rig.server->SetAccepting(accepting);
    TestJoiner extra(rig.server->port());
    ASSERT_TRUE(extra.WaitClosed());
    EXPECT_EQ(extra.received(), (Bytes{0xFF, static_cast<uint8_t>(accepting ? 0xCD : 0xCE)}));
  }
  // An accepted joiner without control: its keyboard report (FF CB inside it is no request) stops
  // at the leader, its refresh request goes through; what its user types reaches the leader's
  // trace only as a count.
  testing::TraceCapture trace;
  const size_t before = rig.owner.Written().size();
  joiners[0]->Send(kHidReport);
  joiners[0]->Send(kRefresh);
  ASSERT_TRUE(WaitUntil([&] { return rig.owner.Written().size() >= before + 3; }));
  const Bytes written = rig.owner.Written();
  EXPECT_EQ(Bytes(written.begin() + static_cast<std::ptrdiff_t>(before), written.end()), kRefresh);
  EXPECT_TRUE(trace.Contains("MUClient: 10 bytes passed on (input), "));
}

TEST(MUServer, AJoinerThatStopsReadingIsDroppedAndTheOthersGoOn) {
  LeaderRig rig(200);
  auto stuck = std::make_unique<TestJoiner>(rig.server->port(), 4096);
  ASSERT_TRUE(stuck->Join(rig.pool, "stuck\r"));
  ASSERT_TRUE(rig.owner.WaitWritten({0xFF, 0xCA, '0'}));
  rig.server->OnJoinAnswer("0stuck");
  auto reader = rig.Join(1, "reader");
  const Bytes block(4096, 0x5A);
  size_t relayed = 0;
  for (int i = 0; i < 4000 && rig.server->SlotClient(0); ++i) {
    rig.server->Relay(block.data(), static_cast<int>(block.size()));
    relayed += block.size();
    reader->ReceiveAtLeast(0);
  }
  EXPECT_EQ(rig.server->SlotClient(0), nullptr);
  EXPECT_EQ(rig.owner.Status2().rfind("User \"stuck\" (", 0), 0u);
  EXPECT_EQ(reader->ReceiveAtLeast(testing::kSyncAccepted.size() + relayed).size(),
            testing::kSyncAccepted.size() + relayed);
}

}  // namespace
}  // namespace remcons
