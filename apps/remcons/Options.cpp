#include "Options.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/Socket.h"
#include "session/PropertyBag.h"

namespace remcons::app {
namespace {

// KIND=PATH with a kind the mounts know and a path; whether the path is there is the mount's
// business (it reports it as the mount's result).
bool IsMountSpec(std::string_view text) {
  const size_t eq = text.find('=');
  if (eq == std::string_view::npos || eq + 1 == text.size()) return false;
  const std::string_view kind = text.substr(0, eq);
  return kind == "image" || kind == "cdimage" || kind == "folder" || kind == "drive";
}

// A saved console page, or HOST[:PORT]; one target at most.
bool PositionalTarget(const std::string& arg, Options* o, std::string* error) {
  const std::string given = !o->host.empty()        ? o->host
                            : !o->capture.empty()   ? o->capture
                            : o->pageFromPositional ? o->page
                                                    : "";
  if (!given.empty()) {
    *error = "one target at most: " + given + " and " + arg;
    return false;
  }
  std::string lower = arg;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.ends_with(".kro")) {
    o->capture = arg;
    return true;
  }
  if (lower.ends_with(".html") || lower.ends_with(".htm")) {
    if (!o->page.empty()) {
      *error = "one page at most: --page " + o->page + " and " + arg;
      return false;
    }
    o->page = arg;
    o->pageFromPositional = true;
    return true;
  }
  std::string host = arg;
  const size_t colon = arg.rfind(':');
  if (colon != std::string::npos) {
    uint32_t port = 0;
    if (!ParsePropertyNumber(arg.substr(colon + 1), 65535, &port) || port == 0) {
      *error = "HOST:PORT needs a port from 1 to 65535, got \"" + arg + "\"";
      return false;
    }
    o->hostPort = static_cast<uint16_t>(port);
    host = arg.substr(0, colon);
  }
  // A name or an address: letters, digits, '.', '-' and '_' only.
  const bool plain = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
  });
  if (!plain) {
    *error = "not a host name or address: \"" + host + "\"";
    return false;
  }
  o->host = host;
  return true;
}

}  // namespace

std::string Usage() {
  return R"(usage: remcons [options] [HOST[:PORT] | PAGE.html | CAPTURE.kro]

A remote console client for a server's management processor. The console's properties come from
HOST, a saved console page, --params-file and --param; on a desktop without any of them a dialog
asks where to connect. The session runs until the server, the script, --seconds or the user ends
it.

Console:
  HOST[:PORT]             the management processor by name or IPv4 address (its name is looked
                          up), and the console port (default 23)
  PAGE.html               a console page saved from the management processor's web interface,
                          as --page
  CAPTURE.kro             a capture file (or a saved BOOT/FAULT buffer) played in a window at
                          its recorded pace, without a server
  --user NAME             log in as NAME; the password comes from --password-file, else from
                          REMCONS_PASSWORD, else from a prompt on the terminal (not echoed)
  --password-file FILE    the password: the file's first line
  --params-file FILE      NAME=VALUE lines of properties ('#' starts a comment), before any
                          --param; keep it readable by you alone (chmod 600)
  --param NAME=VALUE      set a property (repeatable), e.g. --param target=10.0.0.5
                          --param port=23 --param encryption=1 --param keyIndex=0x1234;
                          numbers are decimal or 0x-hexadecimal; a refused value is an error.
                          Other users of the machine can read the command line: login, vmKey,
                          decryptKey and encryptKey given so bring a warning
  --page FILE             take the properties from the <param> elements of an HTML page
                          (before any --param)
  --page-url URL          the hosting page's location; a dotted IPv4 host there becomes the
                          target
  --demo                  start the built-in simulator on loopback and connect to it
                          (enciphered, with a key pair shared with it; its virtual-media side
                          listens too, with a key shared with it)

Multi-user session (--param muMode=1 leads, muMode=2 joins the leader at muServer:muPort):
  --leader-bind ADDRESS   the address a session leader listens on for joining consoles
                          (default: every address; with --demo: 127.0.0.1)

Virtual media:
  --mount KIND=PATH       serve a medium to the server as a virtual drive (repeatable), on the
                          target's virtual-media port with its key (--param vmPort=N
                          --param vmKey=HEX32, or the page's): image=FILE (floppy or disk image),
                          cdimage=FILE (ISO image), folder=DIR (shown read only as a FAT16 disk;
                          links leading outside DIR are left out unless folder=DIR,follow-links)
                          or drive=DEVICE (sdb, sr0 or /dev/sdb); mounted once the console is up
                          and unmounted when its session ends; while one is mounted the console
                          does not time out
  --vmedia-only           no console session: serve the --mount drives until the server has
                          ended every one of them, or --seconds passes

Running:
  --headless              no window: the picture is painted off screen (also the case when
                          there is no display); with no display to switch, the console is
                          windowed whatever fullScreen says: the server's size comes as
                          OnResize and no display mode is searched
  --scale fit|1           the picture scaled to the window, keeping its aspect (fit), or at its
                          own size (1, the default); the window's Console menu switches it
  --seconds N             stop the session after N seconds
  --script FILE|-         scripted input, one command a line:
                            sleep MS | wait-event NAME [MS] | key VK down|up [scan=N] [ext] |
                            char C [scan=N] | type TEXT | move X Y | press|release|dblclick
                            left|right | command N | click-bar BUTTON | snapshot FILE.png |
                            stop | capture-start FILE | capture-stop | replay FILE |
                            boot-buffer | fault-buffer | play | pause | stop-replay | fast |
                            leave-replay
  --answer CAPTION=BUTTON how message boxes of that caption are answered (OK, Cancel, Yes, No,
                          and Accept or Deny for "New User"; repeatable); default: the box's
                          default button

Output:
  --events FILE|-         the events as JSON lines: OnResize, OnStatus, OnDialog, OnShutdown,
                          every message box shown (MessageBox, with its answer), and each
                          mount's result and end (Mount with "result": "ok" or why it failed,
                          Unmount with its "reason")
  --snapshot FILE.png     the painted console when the session ends
  --trace FILE|-          diagnostic trace lines ("-": standard error)
  --help                  this text
  --version               the program's version

Keys over the window: Ctrl+Alt (pressed together and let go) releases the keyboard grab,
Ctrl+Alt+Shift+V types the clipboard into the server, Ctrl+Alt+Shift+S saves a screenshot in
the pictures folder, Esc stops a paste.

Exit status: 0 when the server, the script, --seconds or the user ended the session (with
--vmedia-only: when the server ended every mount, or --seconds passed); 1 when the session failed
(could not connect, connection lost, script error) or a mount failed (refused, unreadable path,
ended by an error); 2 for bad options.
)";
}

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0) {
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        inlineValue = arg.substr(eq + 1);
        arg.resize(eq);
      }
    }
    auto value = [&](std::string* out) {
      if (inlineValue) {
        *out = *inlineValue;
        return true;
      }
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    // A file name, "-" where the option allows it.
    auto path = [&](std::string* out) {
      if (!value(out)) return false;
      if (out->empty()) {
        *error = arg + " needs a file name";
        return false;
      }
      return true;
    };
    auto flag = [&](bool* out) {
      if (inlineValue) {
        *error = arg + " takes no value";
        return false;
      }
      *out = true;
      return true;
    };
    std::string v;
    if (arg == "--param") {
      if (!value(&v)) return false;
      std::string name, text;
      if (!ParseParamPair(v, &name, &text)) {
        *error = "--param needs NAME=VALUE, got \"" + v + "\"";
        return false;
      }
      o->params.emplace_back(name, text);
    } else if (arg == "--params-file") {
      if (!path(&o->paramsFile)) return false;
    } else if (arg == "--user") {
      if (!value(&o->user)) return false;
      if (o->user.empty()) {
        *error = "--user needs a name";
        return false;
      }
    } else if (arg == "--password-file") {
      if (!path(&o->passwordFile)) return false;
    } else if (arg == "--scale") {
      if (!value(&v)) return false;
      if (v != "fit" && v != "1") {
        *error = "--scale takes fit or 1, got \"" + v + "\"";
        return false;
      }
      o->scale = v == "fit";
    } else if (arg == "--version") {
      if (!flag(&o->version)) return false;
    } else if (arg == "--page") {
      if (!path(&o->page)) return false;
    } else if (arg == "--leader-bind") {
      if (!value(&o->leaderBind)) return false;
      uint32_t address = 0;
      if (!ParseIpv4(o->leaderBind, &address)) {
        *error = "--leader-bind needs a dotted IPv4 address, got \"" + o->leaderBind + "\"";
        return false;
      }
    } else if (arg == "--page-url") {
      if (!value(&v)) return false;
      o->pageUrl = v;
    } else if (arg == "--headless") {
      if (!flag(&o->headless)) return false;
    } else if (arg == "--seconds") {
      if (!value(&v)) return false;
      uint32_t seconds = 0;
      if (!ParsePropertyNumber(v, 0xFFFFFFFFu / 1000, &seconds)) {
        *error = "--seconds needs a number of seconds, got \"" + v + "\"";
        return false;
      }
      o->seconds = seconds;
    } else if (arg == "--trace") {
      if (!path(&o->trace)) return false;
    } else if (arg == "--events") {
      if (!path(&o->events)) return false;
    } else if (arg == "--answer") {
      if (!value(&v)) return false;
      if (v.find('=') == std::string::npos) {
        *error = "--answer needs CAPTION=BUTTON, got \"" + v + "\"";
        return false;
      }
      o->answers.push_back(v);
    } else if (arg == "--snapshot") {
      if (!path(&o->snapshot)) return false;
    } else if (arg == "--script") {
      if (!path(&o->script)) return false;
    } else if (arg == "--demo") {
      if (!flag(&o->demo)) return false;
    } else if (arg == "--mount") {
      if (!value(&v)) return false;
      if (!IsMountSpec(v)) {
        *error = "--mount needs KIND=PATH (image, cdimage, folder or drive), got \"" + v + "\"";
        return false;
      }
      o->mounts.push_back(v);
    } else if (arg == "--vmedia-only") {
      if (!flag(&o->vmediaOnly)) return false;
    } else if (arg == "--help" || arg == "-h") {
      o->help = true;
    } else if (arg.rfind("-", 0) == 0 || !PositionalTarget(arg, o, error)) {
      if (error->empty()) *error = "unknown option " + arg + " (see --help)";
      return false;
    }
  }
  if (o->vmediaOnly && !o->help) {
    if (o->mounts.empty()) {
      *error = "--vmedia-only needs at least one --mount";
      return false;
    }
    for (const auto& [option, given] :
         {std::pair{"--script", &o->script}, std::pair{"--snapshot", &o->snapshot}}) {
      if (!given->empty()) {
        *error = std::string(option) + " needs a console session (not with --vmedia-only)";
        return false;
      }
    }
  }
  return true;
}

}  // namespace remcons::app
