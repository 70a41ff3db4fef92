// Runs the capture and replay commands of a script (script/ScriptParser.h) as the menu bar would.
// A command the menu bar does not offer at the time (no capture property, no replay running) is
// a script error; what goes wrong after that shows as the console's message boxes do.
#pragma once

#include <string>
#include <string_view>

#include "script/ScriptParser.h"

namespace remcons {

class CRemCons;

// Runs a kCapture command (window thread); false with a reason when the console does not offer it.
bool RunCaptureScriptCommand(CRemCons& control, const ScriptCommand& command, std::string* error);

}  // namespace remcons
