#include "host/qt/SignalPipe.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>

#include "platform/Trace.h"

namespace remcons {
namespace {

std::atomic<int> gWriteFd{-1};

void OnSignal(int signal) {
  const int saved = errno;
  const int fd = gWriteFd.load();
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signal);
    // A full pipe already holds a wake-up: the byte may be dropped.
    [[maybe_unused]] ssize_t n = write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

SignalPipe::SignalPipe(std::initializer_list<int> caught, std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)) {
  if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
    RC_TRACE("SignalPipe: no pipe: errno %d\n", errno);
    fds_[0] = fds_[1] = -1;
    return;
  }
  gWriteFd = fds_[1];
  notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Drain(); });
  for (int signal : caught) {
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    // Once caught, the signal's default comes back: a second one ends a program whose event
    // loop no longer turns.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    struct sigaction old {};
    if (sigaction(signal, &action, &old) == 0) previous_.emplace_back(signal, old);
  }
}

SignalPipe::~SignalPipe() {
  for (const auto& [signal, old] : previous_) sigaction(signal, &old, nullptr);
  gWriteFd = -1;
  notifier_.reset();
  for (int fd : fds_) {
    if (fd >= 0) close(fd);
  }
}

void SignalPipe::Drain() {
  unsigned char bytes[16];
  for (;;) {
    const ssize_t n = read(fds_[0], bytes, sizeof bytes);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (onSignal_) onSignal_(bytes[i]);
    }
  }
}

}  // namespace remcons
