// SIGINT and SIGTERM as events of Qt's event loop: the handler only writes the signal's number to a
// pipe (all a signal handler may safely do), and the loop reads it and calls back, so the program
// can end its session and put the desktop's display mode back before it exits. Each signal is
// caught once: a second one has its default effect, so a program that hangs can still be ended.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <csignal>
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

namespace remcons {

class SignalPipe {
 public:
  // Catches the signals while the object lives (one object at a time); onSignal runs on the thread
  // that made it, from its event loop. Window thread.
  SignalPipe(std::initializer_list<int> caught, std::function<void(int signal)> onSignal);
  // Puts the previous handlers back.
  ~SignalPipe();
  SignalPipe(const SignalPipe&) = delete;
  SignalPipe& operator=(const SignalPipe&) = delete;

  bool ok() const { return notifier_ != nullptr; }

 private:
  void Drain();

  int fds_[2] = {-1, -1};
  std::function<void(int)> onSignal_;
  std::vector<std::pair<int, struct sigaction>> previous_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace remcons
