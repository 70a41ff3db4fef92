// remcons-tool: offline utilities, one subcommand per source file of this folder.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Tool.h"
#include "remcons/Version.h"

namespace remcons::tool {
namespace {

struct Entry {
  const char* usage;
  Command command;
};

std::map<std::string, Entry>& Registry() {
  static std::map<std::string, Entry> registry;
  return registry;
}

int Usage(FILE* out) {
  std::fprintf(out, "usage: remcons-tool COMMAND [ARGS...] | --help | --version\n\ncommands:\n");
  for (const auto& [name, entry] : Registry()) std::fprintf(out, "  %s\n", entry.usage);
  return out == stdout ? 0 : 2;
}

}  // namespace

Registration::Registration(const char* name, const char* usage, Command command) {
  Registry()[name] = Entry{usage, command};
}

}  // namespace remcons::tool

int main(int argc, char** argv) {
  using namespace remcons::tool;
  if (argc < 2) return Usage(stderr);
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) return Usage(stdout);
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("remcons-tool %s\n", REMCONS_VERSION);
    return 0;
  }
  auto it = Registry().find(argv[1]);
  if (it == Registry().end()) {
    std::fprintf(stderr, "remcons-tool: unknown command '%s'\n", argv[1]);
    return Usage(stderr);
  }
  return it->second.command(std::vector<std::string>(argv + 2, argv + argc));
}
