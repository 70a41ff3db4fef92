// The simulated server: HID reports and terminal bytes to key strokes with a US layout, the boot
// screen on the server's clock, typing at the prompt, the power buttons and the pointer.
#include <gtest/gtest.h>

#include "sim/ClientPackets.h"
#include "sim/ConsoleFont.h"
#include "sim/Keystrokes.h"
#include "sim/ScreenContent.h"
#include "sim/ServerScreen.h"

namespace remcons::sim {
namespace {

std::string Typed(const std::vector<KeyStroke>& strokes) {
  static const char* const kNames[] = {"", "<enter>", "<bs>", "<tab>", "<esc>", "<cad>"};
  std::string s;
  for (const auto& k : strokes) {
    s += k.kind == KeyStroke::kChar    ? std::string(1, k.ch)
         : k.kind == KeyStroke::kOther ? "<" + k.name + ">"
                                       : kNames[k.kind];
  }
  return s;
}

std::vector<KeyStroke> Report(HidKeyboard& kb, uint8_t modifiers, std::vector<uint8_t> keys) {
  keys.resize(6, 0);
  return kb.Report(modifiers, keys.data());
}

TEST(HidKeyboardTest, UsLayoutWithShiftCapsLockAndKeypad) {
  struct Press {
    uint8_t modifiers;
    uint8_t usage;
    std::string typed;
  };
  const Press presses[] = {
      {0x00, 0x04, "a"},       {0x02, 0x04, "A"},        {0x20, 0x1D, "Z"},
      {0x00, 0x1E, "1"},       {0x02, 0x1E, "!"},        {0x00, 0x27, "0"},
      {0x02, 0x27, ")"},       {0x00, 0x2C, " "},        {0x00, 0x2D, "-"},
      {0x02, 0x2D, "_"},       {0x00, 0x31, "\\"},       {0x02, 0x34, "\""},
      {0x00, 0x35, "`"},       {0x02, 0x38, "?"},        {0x00, 0x28, "<enter>"},
      {0x00, 0x2A, "<bs>"},    {0x00, 0x2B, "<tab>"},    {0x00, 0x29, "<esc>"},
      {0x00, 0x59, "1"},       {0x00, 0x63, "."},        {0x00, 0x55, "*"},
      {0x00, 0x58, "<enter>"}, {0x00, 0x64, "\\"},       {0x02, 0x64, "|"},
      {0x00, 0x3A, "<F1>"},    {0x01, 0x06, "<Ctrl+C>"}, {0x04, 0x2B, "<tab>"},
      {0x05, 0x4C, "<cad>"},   {0x50, 0x63, "<cad>"},    {0x00, 0x46, "<usage 0x46>"},
  };
  for (const Press& p : presses) {
    HidKeyboard kb;
    EXPECT_EQ(Typed(Report(kb, p.modifiers, {p.usage})), p.typed)
        << "usage " << int(p.usage) << " modifiers " << int(p.modifiers);
  }
  HidKeyboard kb;
  EXPECT_EQ(Typed(Report(kb, 0, {0x39})), "<CapsLock>");
  EXPECT_EQ(Typed(Report(kb, 0, {})), "");
  EXPECT_EQ(Typed(Report(kb, 0, {0x04})), "A");
  EXPECT_EQ(Typed(Report(kb, 0x02, {0x04})), "");  // still held: no new stroke
  EXPECT_EQ(Typed(Report(kb, 0x02, {})), "");
  EXPECT_EQ(Typed(Report(kb, 0x02, {0x04})), "a");  // Shift with Caps Lock
  // Num Lock off: the keypad digits are navigation keys.
  EXPECT_EQ(Typed(Report(kb, 0, {0x53})), "<NumLock>");
  EXPECT_EQ(Typed(Report(kb, 0, {0x59}))[0], '<');
}

TEST(HidKeyboardTest, KeysCountWhenTheyAppearAndPhantomReportsChangeNothing) {
  HidKeyboard kb;
  EXPECT_EQ(Typed(Report(kb, 0, {0x04, 0x05})), "ab");
  EXPECT_EQ(Typed(Report(kb, 0, {0x04, 0x05, 0x06})), "c");
  EXPECT_EQ(Typed(Report(kb, 0, {0x01, 0x01, 0x01, 0x01, 0x01, 0x01})), "");
  EXPECT_TRUE(kb.KeyDown(0x06));
  EXPECT_EQ(Typed(Report(kb, 0, {0x06})), "");
  EXPECT_FALSE(kb.KeyDown(0x04));
  EXPECT_EQ(Typed(Report(kb, 0, {0x04, 0x04})), "a");
}

TEST(TerminalStrokesTest, BytesAndSequences) {
  auto parse = [](std::vector<uint8_t> bytes, bool afterCr = false) {
    ClientStreamParser parser;
    std::vector<ClientPacket> packets;
    parser.Feed(bytes.data(), bytes.size(), &packets);
    std::string typed;
    for (const auto& p : packets) typed += Typed(TerminalStrokes(p, afterCr));
    return typed;
  };
  EXPECT_EQ(parse({'h', 'i', 0x0D}), "hi<enter>");
  EXPECT_EQ(parse({0x0A}), "<enter>");
  EXPECT_EQ(parse({0x0A}, true), "");
  EXPECT_EQ(parse({0x08, 0x7F, 0x09}), "<bs><bs><tab>");
  EXPECT_EQ(parse({0x03}), "<Ctrl+C>");
  EXPECT_EQ(parse({0xF0, 0xF1}), "\\|");
  EXPECT_EQ(parse({0x14}), "<hot key 1>");
  EXPECT_EQ(parse({0x1B, '[', 'A'}), "<Up>");
  EXPECT_EQ(parse({0x1B, ' '}), " ");
  EXPECT_EQ(parse({0x1B, '[', '3', 0x09}), "<tab>");
  EXPECT_EQ(parse({0x1B, '[', '2', 0x1B, '[', 0x7F}), "<cad>");
  EXPECT_EQ(parse({0x1B, '[', '~'}), "");  // a refresh request is no key
}

ServerScreenOptions Small(uint32_t bootMs) {
  ServerScreenOptions o;
  o.width = 320;
  o.height = 240;
  o.serverName = "TESTSRV";
  o.memoryMb = 1024;
  o.bootMs = bootMs;
  return o;
}

using K = KeyStroke;

TEST(ServerScreenTest, BootCountsMemoryOnTheClockAndEndsAtThePrompt) {
  ServerScreen screen(Small(1000), 5000);
  EXPECT_TRUE(screen.power());
  EXPECT_TRUE(screen.booting());
  EXPECT_NE(screen.Text().find("TESTSRV System BIOS"), std::string::npos);
  EXPECT_NE(screen.Text().find("Memory Test: 0K"), std::string::npos);
  const uint64_t v0 = screen.version();
  EXPECT_TRUE(screen.Tick(5500));
  EXPECT_NE(screen.Text().find("Memory Test: 524288K"), std::string::npos);
  EXPECT_GT(screen.version(), v0);
  EXPECT_FALSE(screen.Tick(5500));  // nothing new
  // Keys typed during the boot wait in the keyboard buffer.
  screen.Key(K::Char('o'), 5600);
  screen.Key(K::Char('k'), 5600);
  EXPECT_EQ(screen.Text().find("boot:"), std::string::npos);
  EXPECT_TRUE(screen.Tick(6000));
  EXPECT_FALSE(screen.booting());
  EXPECT_NE(screen.Text().find("Memory Test: 1048576K OK"), std::string::npos);
  const std::string text = screen.Text();
  EXPECT_EQ(text.substr(text.rfind('\n') + 1), "boot: ok");
}

TEST(ServerScreenTest, EscapeClearsThePromptAndOldLinesScrollAway) {
  ServerScreen screen(Small(0), 0);
  for (char c : std::string("dir")) screen.Key(K::Char(c), 0);
  screen.Key(K::Of(K::kEscape), 0);
  std::string text = screen.Text();
  EXPECT_EQ(text.substr(text.rfind('\n') + 1), "boot: ");
  screen.Print("hello\nworld");
  EXPECT_TRUE(screen.Text().ends_with("hello\nworld\nboot: ")) << screen.Text();
  // More lines than rows: the oldest scroll away, the prompt stays at the bottom.
  for (int i = 0; i < 40; ++i) screen.Key(K::Of(K::kEnter), 0);
  text = screen.Text();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 240 / kGlyphHeight - 1);
  EXPECT_TRUE(text.ends_with("\nboot: "));
}

TEST(ServerScreenTest, PowerButtonsAndEpochs) {
  ServerScreen screen(Small(0), 0);
  EXPECT_EQ(screen.powerEpoch(), 0u);
  screen.PowerButton(1, 10);  // press and hold: off
  EXPECT_FALSE(screen.power());
  EXPECT_EQ(screen.Text(), "");
  screen.Key(K::Char('z'), 10);  // nobody listens
  screen.PowerButton(3, 20);     // reset does nothing while off
  EXPECT_FALSE(screen.power());
  screen.PowerButton(0, 30);  // momentary press: on again, a new epoch
  EXPECT_TRUE(screen.power());
  EXPECT_EQ(screen.powerEpoch(), 1u);
  EXPECT_EQ(screen.Text().find("boot: z"), std::string::npos);
  screen.PowerButton(2, 40);  // cold boot: off and on
  EXPECT_TRUE(screen.power());
  EXPECT_EQ(screen.powerEpoch(), 2u);
  screen.Key(K::Char('a'), 50);
  screen.PowerButton(3, 60);  // reset: the power-on screen again, same epoch
  EXPECT_EQ(screen.powerEpoch(), 2u);
  EXPECT_EQ(screen.Text().find("boot: a"), std::string::npos);
  screen.Key(K::Char('b'), 70);
  screen.Key(K::Of(K::kCtrlAltDel), 80);
  EXPECT_EQ(screen.Text().find("boot: b"), std::string::npos);
}

// The pointer's outline and colours are checked through the service; here its grid's edges.
TEST(ServerScreenTest, PointerFollowsTheGridAndIsDrawnOverTheText) {
  ServerScreen screen(Small(0), 0);
  screen.Pointer(1500, 1500);
  EXPECT_EQ(std::pair(screen.pointerX(), screen.pointerY()), std::pair(160, 120));
  screen.Pointer(100, 50);  // 100 * 320 / 3000 = 10, 50 * 240 / 3000 = 4
  screen.Button(4, true);
  screen.Button(4, false);
  EXPECT_EQ(screen.Render().At(11, 6), 0xFFF);  // white again once the button is up
  screen.Pointer(3000, 3000);
  EXPECT_EQ(std::pair(screen.pointerX(), screen.pointerY()), std::pair(319, 239));
  // The rest of the picture is the text as the console font draws it.
  const ColorFrame frame = screen.Render();
  ColorFrame expected(320, 16 * 2, 0x000);
  DrawText(expected, 0, 0, "TESTSRV System BIOS, Version 2.10", ConsoleColor(15), std::nullopt);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 320; ++x) ASSERT_EQ(frame.At(x, y), expected.At(x, y)) << x << "," << y;
  }
}

TEST(ServerScreenTest, SizesTheStreamCannotCarryAreRefused) {
  ServerScreen screen(Small(0), 0);
  EXPECT_FALSE(screen.SetSize(330, 240));
  EXPECT_FALSE(screen.SetSize(2048, 240));
  EXPECT_FALSE(screen.SetSize(320, 2048));
  const uint64_t v = screen.version();
  EXPECT_TRUE(screen.SetSize(800, 600));
  EXPECT_GT(screen.version(), v);
  EXPECT_EQ(screen.Render().width(), 800);
  EXPECT_EQ(screen.Render().height(), 600);
}

}  // namespace
}  // namespace remcons::sim
