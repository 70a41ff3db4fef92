// Multi-user sessions of whole consoles: a joining console against a leader written here byte by
// byte (handshake, its first message, the control switch, the end), and a leading and a joining
// console against the simulator (the join answer, the relayed picture, control, the close).
#include <gtest/gtest.h>

#include "multiuser/BitWriter.h"
#include "multiuser/LinkRig.h"
#include "platform/Strings.h"
#include "session/SessionRig.h"
#include "sim/ConsoleServer.h"

namespace remcons {
namespace {

using testing::Bytes;
using testing::SessionRig;
using testing::WaitUntil;

// A sync and "1" on channel 0x81, worked out by hand from the bit grammar.
const Bytes kSyncControlOn = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x1d, 0x48, 0x20, 0x23, 0x40, 0x0b};

void MakeJoiner(SessionRig& rig, uint16_t port) {
  rig.control->put_muMode(2);
  rig.control->put_muServer("127.0.0.1");
  rig.control->put_muPort(port);
  rig.control->put_login("dXNlcjpwYXNz");  // user:pass
  rig.control->put_encryption(1);
}

// The leader's end of one link, run on the test's thread.
class LeaderEnd {
 public:
  LeaderEnd() : listener_(TcpSocket::Listen("127.0.0.1", 0)) {
    testing::SeedPool(pool_, 3);
    listener_->SetReceiveTimeout(5000);
  }
  uint16_t port() { return listener_->LocalPort(); }
  // Accepts and reads the ADH info; true when it is FF C8 40 and 192 bytes of values.
  bool AcceptAdh() {
    socket_ = listener_->Accept();
    if (!socket_) return false;
    socket_->SetReceiveTimeout(5000);
    adh_.resize(195);
    return socket_->ReceiveAll(adh_.data(), adh_.size()) && adh_[0] == 0xFF && adh_[1] == 0xC8 &&
           adh_[2] == 64;
  }
  // Answers it and returns the login info the joiner then sends (deciphered).
  Bytes AgreeAndReadLogin() {
    CDHAgreement dh(pool_);
    dh.SetSize(512);
    EXPECT_EQ(dh.TakeGroupAndPeerValue(&adh_[3], &adh_[67], &adh_[131]), 0);
    Bytes response = {0xFF, 0xC9};
    response.resize(66);
    dh.GetPublicValue(&response[2]);
    socket_->SendAll(response.data(), response.size());
    EXPECT_EQ(dh.ComputeAgreedKey(), 0);
    uint8_t k[64];
    dh.GetAgreedKey(k);
    send_ = std::make_unique<RC4Stream>(k);
    receive_ = std::make_unique<RC4Stream>(k + 16);
    return Read(13);
  }
  void Send(Bytes bytes) {
    send_->Apply(bytes.data(), bytes.size());
    socket_->SendAll(bytes.data(), bytes.size());
  }
  void SendPlain(const Bytes& bytes) { socket_->SendAll(bytes.data(), bytes.size()); }
  Bytes Read(size_t n) {
    Bytes bytes(n);
    if (!socket_->ReceiveAll(bytes.data(), n)) return {};
    receive_->Apply(bytes.data(), n);
    return bytes;
  }

 private:
  RandomPool pool_;
  std::unique_ptr<TcpSocket> listener_, socket_;
  std::unique_ptr<RC4Stream> send_, receive_;
  Bytes adh_;
};

TEST(JoiningConsole, AgreesLogsInFollowsItsLeaderAndEndsWhenTold) {
  LeaderEnd leader;
  SessionRig rig;
  MakeJoiner(rig, leader.port());
  ASSERT_EQ(rig.Create(), 0);
  ASSERT_TRUE(leader.AcceptAdh());
  const std::string login = "\xFF\xCAuser\rpass\r";
  EXPECT_EQ(leader.AgreeAndReadLogin(), Bytes(login.begin(), login.end() + 1));
  // The sync completes the handshake; the decoder hunts its way to the first message.
  leader.Send(testing::kSyncAccepted);
  ASSERT_TRUE(WaitUntil([&] { return rig.control->StatusText2() == "Accepted"; }));
  EXPECT_EQ(rig.control->ConnectionState(), CNet::kConnected);
  ASSERT_TRUE(rig.WaitConnected());

  // Typing goes nowhere until the leader grants control; then it reaches the leader.
  rig.control->OnChar('x', 0x2D);
  leader.Send(kSyncControlOn);
  ASSERT_TRUE(WaitUntil([&] { return rig.control->menuBar()->ControlState() == 2; }));
  rig.control->OnChar('y', 0x15);
  EXPECT_EQ(leader.Read(1), Bytes{'y'});

  BitWriter end;
  end.PutSync();
  end.PutTextMessage(6, "The session leader has closed the multi-user session.");
  leader.Send(Bytes(end.data(), end.data() + end.size()));
  ASSERT_TRUE(rig.WaitThreadEnded());
  EXPECT_TRUE(rig.events.Has("OnDialog The session leader has closed the multi-user session."));
  EXPECT_EQ(rig.control->EndReason(), CRemCons::SessionEnd::kServerEnded);
}

TEST(JoiningConsole, FullOrNotAcceptingIsToldAndNothingDecoded) {
  for (const auto& [answer, text] : {std::pair<Bytes, std::string>{{0xFF, 0xCD}, LoadString(133)},
                                     {{0x55, 0xFF, 0x01, 0xFF, 0xCE}, LoadString(134)}}) {
    SCOPED_TRACE(text);
    LeaderEnd leader;
    SessionRig rig;
    MakeJoiner(rig, leader.port());
    ASSERT_EQ(rig.Create(), 0);
    ASSERT_TRUE(leader.AcceptAdh());
    leader.SendPlain(answer);
    ASSERT_TRUE(rig.WaitThreadEnded());
    const auto boxes = rig.host.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].caption, "Information");
    EXPECT_FALSE(rig.control->EverConnected());
  }
}

// A console's picture is the simulator's screen, pixel for pixel.
bool ShowsScreen(CRemCons& console, sim::ConsoleServer& server) {
  int width = 0, height = 0;
  const std::vector<uint32_t> screen = server.ScreenPixels(&width, &height);
  if (console.RemoteScreenSize() != std::pair{width, height}) return false;
  const Surface frame = console.frameBuffer()->Snapshot();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if ((frame.At(x, y) ^ screen[static_cast<size_t>(y) * width + x]) & 0xFFFFFFu) return false;
    }
  }
  return true;
}

TEST(LeaderAndJoiner, AgainstTheSimulator) {
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
  const auto packet = [&](const std::string& kind) {
    for (const sim::PacketRecord& p : server.Packets()) {
      if (p.kind == kind) return p;
    }
    return sim::PacketRecord{};
  };
  EXPECT_EQ(packet("leader-port").fields, "\"port\":" + std::to_string(muServer->port()));

  // The simulator answers the join request with the user's name; the leader's user accepts.
  SessionRig joiner;
  MakeJoiner(joiner, muServer->port());
  ASSERT_EQ(joiner.Create(), 0);
  ASSERT_TRUE(WaitUntil([&] { return joiner.control->StatusText2() == "Accepted"; }, 10000));
  ASSERT_FALSE(leader.host.Boxes().empty());
  EXPECT_EQ(leader.host.Boxes()[0].caption, "New User");
  EXPECT_EQ(leader.host.Boxes()[0].text.rfind("The user \"user\" (", 0), 0u);
  ASSERT_TRUE(server.WaitForPackets("session-notice", 1, 5000));
  // The relayed stream draws the leader's picture at the joiner.
  const auto bothShowTheScreen = [&] {
    const auto both = [&] {
      return ShowsScreen(*leader.control, server) && ShowsScreen(*joiner.control, server);
    };
    return server.WaitUntilSent(10000) && WaitUntil(both, 10000);
  };
  EXPECT_TRUE(bothShowTheScreen());

  // Typed without control, a key goes nowhere; asked for and granted, the next reaches the server.
  joiner.control->OnChar('q', 0x10);
  joiner.control->RequestControl();
  ASSERT_TRUE(WaitUntil([&] { return joiner.control->menuBar()->ControlState() == 2; }));
  EXPECT_EQ(requests.load(), 1);
  joiner.control->OnChar('z', 0x2C);
  ASSERT_TRUE(server.WaitForPackets("char", 1, 5000));
  EXPECT_EQ(packet("char").bytes, Bytes{'z'});
  EXPECT_TRUE(WaitUntil([&] { return server.ScreenText().find("boot: z") != std::string::npos; }));
  EXPECT_TRUE(bothShowTheScreen());

  // The leader's end closes the joiner's session with its text.
  ASSERT_TRUE(WaitUntil([&] { return leader.control->StopSession(); }));
  ASSERT_TRUE(joiner.WaitThreadEnded());
  EXPECT_TRUE(joiner.events.Has("OnDialog The session leader has closed the multi-user session."));
  server.Stop();
}

}  // namespace
}  // namespace remcons
