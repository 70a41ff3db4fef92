// The script commands of capture and replay, beside the others of ScriptRunner:
//
//   capture-start FILE    records to FILE (no dialog), as the record button does
//   capture-stop          ends the recording
//   replay FILE           replays FILE (no dialog), as the Replay Menu's "Replay file" does
//   boot-buffer           fetches and replays the BOOT buffer
//   fault-buffer          fetches and replays the FAULT buffer
//   play | pause          the replay's play and pause
//   stop-replay           the replay's stop control: back to the start, stopped
//   fast                  the replay's next speed (1, 2, 4, 8 times, then 1 again)
//   leave-replay          back to the live console
//
// A command the menu bar does not offer at the time (no capture property, no replay running) is
// a script error; what goes wrong after that shows as the console's message boxes do.
#pragma once

#include <string>
#include <string_view>

#include "host/qt/ScriptRunner.h"

namespace remcons {

class CRemCons;

// True when verb is one of these commands.
bool IsCaptureScriptVerb(std::string_view verb);
// Parses the command: rest is the line after the verb (the file, blanks and all). False with a
// reason for wrong arguments.
bool ParseCaptureScriptLine(std::string_view verb, std::string_view rest, ScriptCommand* command,
                            std::string* error);
// Runs it (window thread); false with a reason when the console does not offer it.
bool RunCaptureScriptCommand(CRemCons& control, const ScriptCommand& command, std::string* error);

}  // namespace remcons
