// remcons-tool subcommands: each .cpp of this folder registers one with a static Registration.
#pragma once

#include <string>
#include <vector>

namespace remcons::tool {

// Runs a subcommand; args are the words after the subcommand's name. Returns the exit status.
using Command = int (*)(const std::vector<std::string>& args);

struct Registration {
  Registration(const char* name, const char* usage, Command command);
};

}  // namespace remcons::tool
