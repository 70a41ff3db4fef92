#include "sim/MpsimCommandLine.h"

#include <cstdio>

#include "platform/Hex.h"

namespace remcons::sim {

std::string MpsimUsage() {
  return std::string(
             "usage: mpsim [options]\n"
             "A management processor simulator: console service and virtual media.\n"
             "\n"
             "Console service:\n"
             "  --port N              console port (default 23; 0: any free port, printed)\n"
             "  --bind ADDRESS        address to listen on (default 127.0.0.1)\n"
             "  --encryption on|off   offer the enciphered session (default on)\n"
             "  --key-index N         the key index the keys below belong to (default 0)\n"
             "  --decrypt-key HEX32   the console's decryptKey: keys what the console sends\n"
             "  --encrypt-key HEX32   the console's encryptKey: keys what the console receives\n"
             "  --key N:HEX32:HEX32   a further key index with its decrypt and encrypt keys\n"
             "  --login NAME:PASSWORD refuse any other login (default: any login, logged)\n"
             "  --reply TEXT          text sent before the start reply\n"
             "  --size WxH            the server's screen (default 1024x768)\n"
             "  --server-name NAME    shown on the power-on screen (default MPSIM)\n"
             "  --memory MB           counted by the memory test (default 16384)\n"
             "  --boot-ms MS          power-on to boot prompt (default 2000)\n"
             "  --power on|off        the server's power at start (default on)\n"
             "  --frame-interval MS   shortest time between frame updates (default 40)\n"
             "  --keychange-every MS  a cipher key change every MS (default: none)\n"
             "  --silent              accept connections and never reply\n"
             "  --no-seize            refuse a second console (default: it takes over)\n"
             "  --no-join-answers     leave join requests (FF CA) unanswered\n"
             "  --join-name NAME      the user name in join answers (default: the joiner's\n"
             "                        login name)\n"
             "  --script FILE         commands run at the start of every session\n"
             "  --log FILE            received packets as JSON lines, appended (- : stdout)\n"
             "  --sessions N          exit after N console connections have ended\n"
             "  --help                this text\n"
             "  --version             the program's version\n"
             "\n"
             "BOOT and FAULT buffers:\n"
             "  --buffer-port N       serve them on port N (0: any free port, printed)\n"
             "  --buffer-key HEX      encipher them under this key of 1 to 24 bytes\n"
             "\n"
             "Virtual media:\n") +
         VmOptionsUsage();
}

bool ParseMpsimCommandLine(int argc, char** argv, MpsimCommandLine* out, std::string* error) {
  MpsimCommandLine cl;
  cl.console.port = 23;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    const int vm = ParseVmOption(argc, argv, &i, &cl.vm, error);
    if (vm < 0) return false;
    if (vm > 0) continue;
    auto value = [&](std::string* text) {
      if (i + 1 >= argc) {
        *error = name + " needs a value";
        return false;
      }
      *text = argv[++i];
      return true;
    };
    auto number = [&](int64_t min, int64_t max, int64_t* v) {
      std::string text;
      if (!value(&text)) return false;
      if (!ParseInteger(text, min, max, v)) {
        *error = name + ": bad number '" + text + "'";
        return false;
      }
      return true;
    };
    auto onOff = [&](bool* v) {
      std::string text;
      if (!value(&text)) return false;
      if (text != "on" && text != "off") {
        *error = name + " takes on or off";
        return false;
      }
      *v = text == "on";
      return true;
    };
    auto key = [&](std::array<uint8_t, 16>* k) {
      std::string text;
      if (!value(&text)) return false;
      if (!ParseHexKeyStrict(text, k->data())) {
        *error = name + " takes 32 hexadecimal digits";
        return false;
      }
      return true;
    };
    int64_t n = 0;
    std::string text;
    if (name == "--help" || name == "-h") {
      cl.help = true;
    } else if (name == "--version") {
      cl.version = true;
    } else if (name == "--port") {
      if (!number(0, 65535, &n)) return false;
      cl.console.port = static_cast<uint16_t>(n);
    } else if (name == "--bind") {
      if (!value(&cl.console.bind)) return false;
    } else if (name == "--encryption") {
      if (!onOff(&cl.console.encryption)) return false;
    } else if (name == "--key-index") {
      if (!number(0, 0xFFFFFFFF, &n)) return false;
      cl.console.keyIndex = static_cast<uint32_t>(n);
    } else if (name == "--decrypt-key") {
      if (!key(&cl.console.keys.decryptKey)) return false;
    } else if (name == "--encrypt-key") {
      if (!key(&cl.console.keys.encryptKey)) return false;
    } else if (name == "--key") {
      if (!value(&text)) return false;
      const size_t a = text.find(':');
      const size_t b = a == std::string::npos ? a : text.find(':', a + 1);
      ConsoleKeys keys;
      if (b == std::string::npos || !ParseInteger(text.substr(0, a), 0, 0xFFFFFFFF, &n) ||
          !ParseHexKeyStrict(text.substr(a + 1, b - a - 1), keys.decryptKey.data()) ||
          !ParseHexKeyStrict(text.substr(b + 1), keys.encryptKey.data())) {
        *error = "--key takes INDEX:DECRYPT:ENCRYPT, the keys as 32 hexadecimal digits";
        return false;
      }
      cl.console.moreKeys[static_cast<uint32_t>(n)] = keys;
    } else if (name == "--login") {
      if (!value(&cl.console.login)) return false;
      cl.console.checkLogin = true;
    } else if (name == "--reply") {
      if (!value(&text)) return false;
      cl.console.replyText = Unescape(text);
    } else if (name == "--size") {
      if (!value(&text)) return false;
      const size_t x = text.find('x');
      int64_t w = 0, h = 0;
      if (x == std::string::npos || !ParseInteger(text.substr(0, x), 16, 2032, &w) ||
          !ParseInteger(text.substr(x + 1), 16, 2047, &h) || w % 16 != 0) {
        *error =
            "--size takes WIDTHxHEIGHT, the width a multiple of 16 up to 2032, the height "
            "up to 2047";
        return false;
      }
      cl.console.screen.width = static_cast<int>(w);
      cl.console.screen.height = static_cast<int>(h);
    } else if (name == "--server-name") {
      if (!value(&cl.console.screen.serverName)) return false;
    } else if (name == "--memory") {
      if (!number(1, 4 * 1024 * 1024, &n)) return false;
      cl.console.screen.memoryMb = static_cast<uint32_t>(n);
    } else if (name == "--boot-ms") {
      if (!number(0, 600000, &n)) return false;
      cl.console.screen.bootMs = static_cast<uint32_t>(n);
    } else if (name == "--power") {
      if (!onOff(&cl.console.screen.powerOn)) return false;
    } else if (name == "--frame-interval") {
      if (!number(0, 60000, &n)) return false;
      cl.console.frameIntervalMs = static_cast<uint32_t>(n);
    } else if (name == "--keychange-every") {
      if (!number(0, 24 * 3600 * 1000, &n)) return false;
      cl.console.keyChangeIntervalMs = static_cast<uint32_t>(n);
    } else if (name == "--silent") {
      cl.console.silent = true;
    } else if (name == "--no-seize") {
      cl.console.seizeOnNewConnection = false;
    } else if (name == "--no-join-answers") {
      cl.console.answerJoinRequests = false;
    } else if (name == "--join-name") {
      if (!value(&cl.console.joinName)) return false;
    } else if (name == "--script") {
      if (!value(&text)) return false;
      if (!LoadScriptFile(text, &cl.console.script, error)) return false;
    } else if (name == "--log") {
      if (!value(&text)) return false;
      cl.console.logFile = text == "-" ? "/dev/stdout" : text;
    } else if (name == "--buffer-port") {
      if (!number(0, 65535, &n)) return false;
      cl.buffers.port = static_cast<uint16_t>(n);
      cl.buffersEnabled = true;
    } else if (name == "--buffer-key") {
      if (!value(&text)) return false;
      cl.buffers.key.clear();
      bool ok = !text.empty() && text.size() % 2 == 0 && text.size() <= 48;
      for (size_t k = 0; ok && k < text.size(); k += 2) {
        int64_t byte = 0;
        ok = ParseInteger("0x" + text.substr(k, 2), 0, 255, &byte);
        cl.buffers.key.push_back(static_cast<uint8_t>(byte));
      }
      if (!ok) {
        *error = "--buffer-key takes 2 to 48 hexadecimal digits";
        return false;
      }
    } else if (name == "--sessions") {
      if (!number(0, 1000000, &n)) return false;
      cl.sessions = static_cast<int>(n);
    } else {
      *error = "unknown option " + name + " (see --help)";
      return false;
    }
  }
  *out = std::move(cl);
  return true;
}

}  // namespace remcons::sim
