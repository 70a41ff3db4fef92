// The simulator's script: one command a line, '#' starts a comment. The same commands run
// through ConsoleServer::Execute. Numbers are decimal or 0x-hexadecimal; texts take C escapes
// (\n \r \t \\ \xNN).
//
//   wait MS                         pause the script
//   wait-packet KIND [COUNT [MS]]   until COUNT packets of KIND came in this session (10 s)
//   mode WIDTHxHEIGHT               the server's screen size (also: mode W H)
//   text CHANNEL TEXT               a text record; status (2), dialog (4), status2 (5) and
//   status|dialog|status2|end TEXT  end (6, the console ends its session) name the channels
//   suspend | resume                video suspended; the picture again
//   seize | kill | exit             the firmware commands that end the console's session
//   keychange                       a cipher key change now
//   keychange-every MS              a key change every MS (0: none)
//   silence on|off                  send nothing (a new console gets no start reply)
//   drop                            close the connection
//   power on|off|cycle              the server's power
//   button momentary|hold|cold|reset   a virtual power button, as if the console pressed it
//   restart                         the server restarts (power-on screen)
//   print TEXT                      a line of server output
//   type TEXT                       keys typed at the server's prompt ("\n" is Enter)
//   refresh | resync                the whole screen again | a resynchronisation mark
//   frame-interval MS               the shortest time between two frame updates
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace remcons::sim {

struct ScriptCommand {
  enum Op : uint8_t {
    kWait,
    kWaitPacket,
    kMode,
    kText,
    kSuspend,
    kResume,
    kSeize,
    kKill,
    kExit,
    kKeyChange,
    kKeyChangeEvery,
    kSilence,
    kDrop,
    kPower,   // a: 0 off, 1 on, 2 cycle
    kButton,  // a: 0 to 3
    kRestart,
    kPrint,
    kType,
    kRefresh,
    kResync,
    kFrameInterval,
  };
  Op op = kWait;
  int64_t a = 0, b = 0, c = 0;
  std::string text;
  int line = 0;  // in the script, for messages
};

// One line: nullopt for blank lines and comments; false with error for a bad one.
bool ParseScriptLine(std::string_view line, std::optional<ScriptCommand>* command,
                     std::string* error);
// A whole script; error names the line.
bool ParseScript(std::string_view text, std::vector<ScriptCommand>* commands, std::string* error);
bool LoadScriptFile(const std::string& path, std::vector<ScriptCommand>* commands,
                    std::string* error);

// C escapes of the script's texts.
std::string Unescape(std::string_view text);

}  // namespace remcons::sim
