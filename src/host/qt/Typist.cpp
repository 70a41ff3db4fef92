#include "host/qt/Typist.h"

#include <string.h>  // explicit_bzero

#include "platform/Secret.h"
#include "platform/Trace.h"

namespace remcons {

Typist::Typist(CRemCons& control, Clock& clock, uint32_t paceMs)
    : control_(control), clock_(clock), paceMs_(paceMs) {}

Typist::~Typist() {
  Forget();
}

void Typist::Forget() {
  WipeString(text_);
  WipeStrokes();
  stroke_ = next_ = total_ = 0;
}

void Typist::WipeStrokes() {
  // The strokes name the character too.
  if (!strokes_.empty()) explicit_bzero(strokes_.data(), strokes_.size() * sizeof(Keystroke));
  strokes_.clear();
}

void Typist::Start(std::string text) {
  Cancel();
  text_ = std::move(text);
  total_ = text_.size();
  // Due at once.
  lastMs_ = clock_.NowMs() - paceMs_;
  Pump();
}

void Typist::Play(const Keystroke& stroke) {
  // What is typed stays out of the trace: it may be a password.
  trace::Quiet quiet;
  PlayKeystroke(control_, stroke);
}

bool Typist::Pump() {
  if (!Active()) {
    Forget();
    return false;
  }
  const uint32_t now = clock_.NowMs();
  if (now - lastMs_ < paceMs_) return true;
  // The next character's strokes; one that no key types is skipped.
  while (stroke_ == strokes_.size() && next_ < text_.size()) {
    WipeStrokes();
    strokes_ = UsKeystrokes(text_[next_++]);
    stroke_ = 0;
  }
  if (stroke_ < strokes_.size()) {
    Play(strokes_[stroke_++]);
    lastMs_ = now;
  }
  if (Active()) return true;
  Forget();
  return false;
}

void Typist::Cancel() {
  // Nothing stays held on the server: the releases of the character under way.
  for (; stroke_ < strokes_.size(); ++stroke_) {
    if (strokes_[stroke_].key.keyUp) Play(strokes_[stroke_]);
  }
  Forget();
}

}  // namespace remcons
