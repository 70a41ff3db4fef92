// The remcons command line. The option names are a contract with the scripts that drive remcons.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace remcons::app {

struct Options {
  std::vector<std::pair<std::string, std::string>> params;  // --param NAME=VALUE, in order
  std::string paramsFile;                                   // --params-file FILE
  std::string page;                                         // --page FILE, or FILE.html
  bool pageFromPositional = false;
  std::string host;     // HOST or HOST:PORT
  std::string capture;  // CAPTURE.kro to play
  std::optional<uint16_t> hostPort;
  std::string user;                    // --user NAME
  std::string passwordFile;            // --password-file FILE
  std::optional<bool> scale;           // --scale fit (true) or 1 (false)
  std::optional<std::string> pageUrl;  // --page-url URL
  bool headless = false;
  std::optional<uint32_t> seconds;
  std::string trace;                 // --trace FILE|-
  std::string events;                // --events FILE|-
  std::vector<std::string> answers;  // --answer CAPTION=BUTTON
  std::string snapshot;              // --snapshot FILE.png
  std::string script;                // --script FILE|-
  bool demo = false;
  std::string leaderBind;           // --leader-bind ADDRESS; empty: any (loopback with --demo)
  std::vector<std::string> mounts;  // --mount KIND=PATH, in order
  bool vmediaOnly = false;          // --vmedia-only: the mounts without a console session
  bool help = false;
  bool version = false;
};

// Parses argv[1..]; false with a one-line reason for an unknown option, a missing or bad value.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);
std::string Usage();

}  // namespace remcons::app
