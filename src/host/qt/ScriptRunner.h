// Runs a headless console's script (script/ScriptParser.h) on a thread of its own, acting on the
// console on the window thread; it ends early when the session ends.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "input/KeyMap.h"
#include "input/Keyboard.h"
#include "input/Mouse.h"
#include "script/ScriptParser.h"

namespace remcons {

class CRemCons;
class Host;
class EventJsonWriter;

class ScriptRunner {
 public:
  struct Environment {
    Host* host = nullptr;
    CRemCons* control = nullptr;
    EventJsonWriter* events = nullptr;
    // Writes the window's picture (window thread): false with error empty when the picture is
    // busy (try again), false with error set when it failed.
    std::function<bool(const std::string& path, std::string* error)> snapshot;
    // The script failed (script thread): the console ends with this reason.
    std::function<void(const std::string& reason)> failed;
  };

  ScriptRunner(Environment environment, std::unique_ptr<ScriptSource> source);
  // Stops and joins.
  ~ScriptRunner();
  ScriptRunner(const ScriptRunner&) = delete;
  ScriptRunner& operator=(const ScriptRunner&) = delete;

  void Start();
  // Ends the script where it is (its waits end at once) and joins its thread.
  void Stop();
  bool finished() const { return finished_.load(); }

 private:
  struct Call;

  void Main();
  bool Execute(const ScriptCommand& command, std::string* error);
  // Runs fn on the window thread and waits for it; false when the script was stopped first.
  bool RunOnUi(std::function<void()> fn);
  bool Key(uint32_t vk, uint32_t scanCode, bool extended, bool up, KeyResult* result);
  bool Type(const std::string& text);
  bool Button(MenuBarMouse::Event event);
  bool Snapshot(const std::string& path, std::string* error);

  Environment env_;
  std::unique_ptr<ScriptSource> source_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::mutex callMutex_;
  std::shared_ptr<Call> call_;  // the call waiting for the window thread
  std::map<std::string, uint64_t> seen_;
  bool altHeld_[2] = {false, false};
  int x_ = 0, y_ = 0;
};

}  // namespace remcons
