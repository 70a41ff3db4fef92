// Whole consoles over loopback against the simulator's console service: a leading and a joining
// console (the join answer, the relayed picture, control, the close); a joining console told the
// session is full or not accepting. An enciphered session through a key change against the
// simulator is the capture round trip's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Strings.h"
#include "session/SessionRig.h"
#include "sim/ConsoleServer.h"

namespace remcons {
namespace {

using testing::SessionRig;
using testing::ShowsScreen;
using testing::WaitUntil;
using Bytes = std::vector<uint8_t>;

Bytes PacketBytes(sim::ConsoleServer& server, const std::string& kind) {
  Bytes bytes;
  for (const sim::PacketRecord& r : server.Packets()) {
    if (r.kind == kind) bytes.insert(bytes.end(), r.bytes.begin(), r.bytes.end());
  }
  return bytes;
}

void MakeJoiner(SessionRig& rig, uint16_t port) {
  rig.control->put_muMode(2);
  rig.control->put_muServer("127.0.0.1");
  rig.control->put_muPort(port);
  rig.control->put_login("dXNlcjpwYXNz");  // user:pass
  rig.control->put_encryption(1);
}

TEST(MultiUser, LeaderAndJoinerAgainstTheSimulator) {
  sim::ConsoleServer server(testing::QuickSimOptions());
  ASSERT_TRUE(server.Start());
  SessionRig leader;
  leader.control->put_muMode(1);
  leader.control->put_muPort(0);
  std::atomic<int> requests{0};
  leader.host.answer = [&](const testing::FakeHost::Box& box) {
    if (box.caption == "Request") ++requests;
    return box.caption == "New User" ? kIdAccept : box.caption == "Request" ? kIdYes : kIdOk;
  };
  leader.control->put_port(server.Port());
  ASSERT_EQ(leader.Create(), 0);
  ASSERT_TRUE(leader.WaitConnected());
  MUServer* muServer = leader.control->leaderServer();
  ASSERT_TRUE(muServer && muServer->Listening());
  ASSERT_TRUE(server.WaitForPackets("leader-port", 1, 5000));
  std::string fields;
  for (const sim::PacketRecord& p : server.Packets())
    fields += p.kind == "leader-port" ? p.fields : "";
  EXPECT_EQ(fields, "\"port\":" + std::to_string(muServer->port()));
  // The simulator answers the join request with the user's name; the leader's user accepts.
  SessionRig joiner;
  MakeJoiner(joiner, muServer->port());
  ASSERT_EQ(joiner.Create(), 0);
  ASSERT_TRUE(WaitUntil([&] { return joiner.control->StatusText2() == "Accepted"; }, 10000));
  EXPECT_EQ(leader.host.Boxes().at(0).caption, "New User");
  EXPECT_EQ(leader.host.Boxes()[0].text.rfind("The user \"user\" (", 0), 0u);
  ASSERT_TRUE(server.WaitForPackets("session-notice", 1, 5000));
  // The relayed stream draws the leader's picture at the joiner.
  EXPECT_TRUE(ShowsScreen(*leader.control, server) && ShowsScreen(*joiner.control, server));
  // Typed without control, a key goes nowhere; asked for and granted, the next reaches the server.
  joiner.control->OnChar('q', 0x10);
  joiner.control->RequestControl();
  ASSERT_TRUE(WaitUntil([&] { return joiner.control->menuBar()->ControlState() == 2; }));
  EXPECT_EQ(requests.load(), 1);
  joiner.control->OnChar('z', 0x2C);
  ASSERT_TRUE(server.WaitForPackets("char", 1, 5000));
  EXPECT_EQ(PacketBytes(server, "char"), Bytes{'z'});
  EXPECT_TRUE(WaitUntil([&] { return server.ScreenText().find("boot: z") != std::string::npos; }));
  EXPECT_TRUE(ShowsScreen(*leader.control, server) && ShowsScreen(*joiner.control, server));
  // The leader's end closes the joiner's session with its text.
  ASSERT_TRUE(WaitUntil([&] { return leader.control->StopSession(); }));
  ASSERT_TRUE(joiner.WaitThreadEnded());
  EXPECT_TRUE(joiner.events.Has("OnDialog The session leader has closed the multi-user session."));
  server.Stop();
}

// A leader that answers the key agreement with "full" or (after bytes to skip) "not accepting".
TEST(MultiUser, AJoinerToldFullOrNotAcceptingSaysSoAndDecodesNothing) {
  for (const auto& [answer, text] : {std::pair<Bytes, std::string>{{0xFF, 0xCD}, LoadString(133)},
                                     {{0x55, 0xFF, 0x01, 0xFF, 0xCE}, LoadString(134)}}) {
    SCOPED_TRACE(text);
    auto listener = TcpSocket::Listen("127.0.0.1", 0);
    SessionRig rig;
    MakeJoiner(rig, listener->LocalPort());
    ASSERT_EQ(rig.Create(), 0);
    std::unique_ptr<TcpSocket> link = listener->Accept();
    ASSERT_TRUE(link);
    link->SetReceiveTimeout(5000);
    Bytes adh(195);
    ASSERT_TRUE(link->ReceiveAll(adh.data(), adh.size()));
    EXPECT_EQ(Bytes(adh.begin(), adh.begin() + 3), (Bytes{0xFF, 0xC8, 64}));
    link->SendAll(answer.data(), answer.size());
    ASSERT_TRUE(rig.WaitThreadEnded());
    EXPECT_EQ(
        rig.host.Boxes(),
        (std::vector<testing::FakeHost::Box>{{text, "Information", rig.host.Boxes().at(0).style}}));
    EXPECT_FALSE(rig.control->EverConnected());
  }
}

}  // namespace
}  // namespace remcons
