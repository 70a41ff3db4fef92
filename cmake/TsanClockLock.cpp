// ThreadSanitizer builds only. libstdc++'s timed mutexes wait with pthread_mutex_clocklock, which
// the sanitizer's runtime does not intercept: it misses every lock taken that way and then reports
// false races and "unlock of an unlocked mutex". The same wait through the intercepted
// pthread_mutex_timedlock, its monotonic deadline moved to the realtime clock.
#include <pthread.h>
#include <time.h>

extern "C" int pthread_mutex_clocklock(pthread_mutex_t* mutex, clockid_t clock,
                                       const struct timespec* deadline) noexcept {
  if (clock == CLOCK_REALTIME) return pthread_mutex_timedlock(mutex, deadline);
  timespec now{}, real{};
  clock_gettime(clock, &now);
  clock_gettime(CLOCK_REALTIME, &real);
  long long ns = (deadline->tv_sec - now.tv_sec) * 1000000000LL + (deadline->tv_nsec - now.tv_nsec);
  if (ns < 0) ns = 0;
  ns += real.tv_nsec;
  timespec until{real.tv_sec + time_t(ns / 1000000000LL), long(ns % 1000000000LL)};
  return pthread_mutex_timedlock(mutex, &until);
}
