// Types a text into the console as keystrokes of a US keyboard (the clipboard's paste), one stroke
// at a time with a pause between strokes, so that the server's keyboard buffer keeps up. The pause
// is measured on a Clock; whoever drives it calls Pump often (a timer of the pause's length). The
// strokes write no trace lines, and the text is wiped when it has been typed or given up.
// Window thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/qt/UsTyping.h"
#include "platform/Clock.h"

namespace remcons {

class CRemCons;

class Typist {
 public:
  // The pause between strokes, in milliseconds.
  static constexpr uint32_t kPaceMs = 8;

  Typist(CRemCons& control, Clock& clock, uint32_t paceMs = kPaceMs);
  ~Typist();
  Typist(const Typist&) = delete;
  Typist& operator=(const Typist&) = delete;

  // Starts typing text: typable characters only (TypableText), others are skipped. A text still
  // being typed is given up first. The first stroke goes at once.
  void Start(std::string text);
  // Plays the next stroke when the pause since the last one has passed. False once everything
  // has been typed (or nothing is being typed).
  bool Pump();
  // Gives up what is left; a key or Shift pressed for the character being typed is released.
  void Cancel();

  bool Active() const { return next_ < text_.size() || stroke_ < strokes_.size(); }
  // Characters typed so far, of total.
  size_t typed() const { return next_ - (stroke_ < strokes_.size() ? 1 : 0); }
  size_t total() const { return total_; }

 private:
  void Play(const Keystroke& stroke);
  void Forget();
  void WipeStrokes();

  CRemCons& control_;
  Clock& clock_;
  uint32_t paceMs_;
  std::string text_;
  size_t total_ = 0;
  size_t next_ = 0;  // the next character whose strokes are to be made
  std::vector<Keystroke> strokes_;
  size_t stroke_ = 0;
  uint32_t lastMs_ = 0;
};

}  // namespace remcons
