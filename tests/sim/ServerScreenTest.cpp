// The simulated server: HID reports and terminal bytes to key strokes with a US layout, the boot
// screen on the server's clock, typing at the prompt, the pointer, and the text console drawn in
// the console font. The power buttons are pressed by the console service's tests.
#include "sim/ServerScreen.h"

#include <gtest/gtest.h>

#include "sim/ClientPackets.h"
#include "sim/ConsoleFont.h"
#include "sim/Keystrokes.h"
#include "sim/ScreenContent.h"

namespace remcons::sim {
namespace {

using K = KeyStroke;

std::string Typed(const std::vector<KeyStroke>& strokes) {
  static const char* const kNames[] = {"", "<enter>", "<bs>", "<tab>", "<esc>", "<cad>"};
  std::string s;
  for (const auto& k : strokes) {
    s += k.kind == K::kChar    ? std::string(1, k.ch)
         : k.kind == K::kOther ? "<" + k.name + ">"
                               : kNames[k.kind];
  }
  return s;
}

std::string Report(HidKeyboard& kb, uint8_t modifiers, std::vector<uint8_t> keys) {
  keys.resize(6, 0);
  return Typed(kb.Report(modifiers, keys.data()));
}

TEST(KeystrokesTest, HidReportsAndTerminalBytesInAUsLayout) {
  const struct {
    uint8_t modifiers, usage;
    std::string typed;
  } presses[] = {
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
  for (const auto& p : presses) {
    HidKeyboard kb;
    EXPECT_EQ(Report(kb, p.modifiers, {p.usage}), p.typed)
        << int(p.usage) << " " << int(p.modifiers);
  }
  // Keys count when they appear; Caps Lock, Shift with it, Num Lock off, and phantom reports.
  HidKeyboard kb;
  std::string typed;
  for (auto [modifiers, keys] :
       std::vector<std::pair<uint8_t, std::vector<uint8_t>>>{{0, {0x39}},
                                                             {0, {}},
                                                             {0, {0x04}},
                                                             {0x02, {0x04}},
                                                             {0x02, {}},
                                                             {0x02, {0x04}},
                                                             {0, {0x53}},
                                                             {0, {0x04, 0x05}},
                                                             {0, {0x04, 0x05, 0x06}},
                                                             {0, {1, 1, 1, 1, 1, 1}},
                                                             {0, {0x06}},
                                                             {0, {0x04, 0x04}}}) {
    typed += Report(kb, modifiers, keys) + "|";
  }
  EXPECT_EQ(typed, "<CapsLock>||A|||a|<NumLock>|AB|C|||A|");
  EXPECT_TRUE(kb.KeyDown(0x04));
  EXPECT_FALSE(kb.KeyDown(0x06));
  EXPECT_EQ(Report(kb, 0, {0x59})[0], '<');  // a keypad digit without Num Lock: navigation

  auto parse = [](std::vector<uint8_t> bytes, bool afterCr = false) {
    ClientStreamParser parser;
    std::vector<ClientPacket> packets;
    parser.Feed(bytes.data(), bytes.size(), &packets);
    std::string s;
    for (const auto& p : packets) s += Typed(TerminalStrokes(p, afterCr));
    return s;
  };
  EXPECT_EQ(parse({'h', 'i', 0x0D, 0x0A, 0x08, 0x7F, 0x09, 0x03, 0xF0, 0xF1, 0x14}),
            "hi<enter><enter><bs><bs><tab><Ctrl+C>\\|<hot key 1>");
  EXPECT_EQ(parse({0x0A}, true), "");
  EXPECT_EQ(parse({0x1B, '[', 'A', 0x1B, ' ', 0x1B, '[', '3', 0x09}), "<Up> <tab>");
  EXPECT_EQ(parse({0x1B, '[', '2', 0x1B, '[', 0x7F, 0x1B, '[', '~'}), "<cad>");
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

std::string LastLine(const std::string& text) {
  return text.substr(text.rfind('\n') + 1);
}

TEST(ServerScreenTest, BootCountsMemoryOnTheClockAndTypedKeysWaitForThePrompt) {
  ServerScreen screen(Small(1000), 5000);
  EXPECT_TRUE(screen.power() && screen.booting());
  EXPECT_NE(screen.Text().find("TESTSRV System BIOS"), std::string::npos);
  EXPECT_NE(screen.Text().find("Memory Test: 0K"), std::string::npos);
  const uint64_t v0 = screen.version();
  EXPECT_TRUE(screen.Tick(5500));
  EXPECT_NE(screen.Text().find("Memory Test: 524288K"), std::string::npos);
  EXPECT_GT(screen.version(), v0);
  EXPECT_FALSE(screen.Tick(5500));  // nothing new
  screen.Key(K::Char('o'), 5600);
  screen.Key(K::Char('k'), 5600);
  EXPECT_EQ(screen.Text().find("boot:"), std::string::npos);
  EXPECT_TRUE(screen.Tick(6000));
  EXPECT_FALSE(screen.booting());
  EXPECT_NE(screen.Text().find("Memory Test: 1048576K OK"), std::string::npos);
  EXPECT_EQ(LastLine(screen.Text()), "boot: ok");
  // Escape clears the prompt; more lines than rows scroll the oldest away.
  screen.Key(K::Of(K::kEscape), 6000);
  EXPECT_EQ(LastLine(screen.Text()), "boot: ");
  screen.Print("hello\nworld");
  EXPECT_TRUE(screen.Text().ends_with("hello\nworld\nboot: ")) << screen.Text();
  for (int i = 0; i < 40; ++i) screen.Key(K::Of(K::kEnter), 6000);
  const std::string text = screen.Text();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 240 / kGlyphHeight - 1);
  EXPECT_TRUE(text.ends_with("\nboot: "));
}

TEST(ServerScreenTest, PointerGridTextPictureAndSizes) {
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
  // Sizes the stream cannot carry are refused.
  for (auto [w, h] : {std::pair{330, 240}, {2048, 240}, {320, 2048}})
    EXPECT_FALSE(screen.SetSize(w, h));
  const uint64_t v = screen.version();
  EXPECT_TRUE(screen.SetSize(800, 600));
  EXPECT_GT(screen.version(), v);
  EXPECT_EQ(std::pair(screen.Render().width(), screen.Render().height()), std::pair(800, 600));
}

TEST(ScreenContentTest, TheTextConsoleWritesWrapsScrollsAndClips) {
  TextConsole console(4, 2);
  console.SetColors(15, 1);
  console.Write("abcdEF");  // wraps after 4
  EXPECT_EQ(std::pair(console.cursorRow(), console.cursorColumn()), std::pair(1, 2));
  console.Write("\nxy");  // scrolls: "EF" moves to the top row
  ColorFrame expected(32, 32, ConsoleColor(0));
  DrawText(expected, 0, 0, "EF  ", ConsoleColor(15), ConsoleColor(1));
  DrawText(expected, 0, 16, "xy  ", ConsoleColor(15), ConsoleColor(1));
  // The blank cells of the new line take the colours in force when it scrolled in.
  DrawText(expected, 16, 0, "  ", ConsoleColor(7), ConsoleColor(0));
  // The cursor is an underline in the cell after "xy".
  expected.Fill(16, 29, 24, 31, ConsoleColor(15));
  EXPECT_EQ(console.Render(), expected);
  console.cursorVisible = false;
  console.Write("\r\b!");
  EXPECT_EQ(console.cursorColumn(), 1);
  // Drawing is clipped at every edge.
  ColorFrame frame(20, 20, 0x123);
  DrawText(frame, -5, -9, "WW", 0xFFF, 0x000);
  DrawText(frame, 15, 12, "WW", 0xFFF, 0x000);
  DrawSmoothText(frame, -7, 15, "MM", 0xFFF, 0x000);
  frame.Fill(-10, -10, 3, 3, 0xABC);
  frame.Fill(18, 18, 40, 40, 0xABC);
  frame.Fill(10, 10, 5, 5, 0x777);  // empty
  EXPECT_EQ(std::tuple(frame.At(0, 0), frame.At(19, 19), frame.At(10, 8)),
            std::tuple(0xABC, 0xABC, 0x123));
}

}  // namespace
}  // namespace remcons::sim
