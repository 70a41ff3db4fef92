// Diagnostic trace lines: "file(line) : text", at most 1023 characters, off by default.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace remcons::trace {

// Enables tracing to stderr ("-" or empty) or to a file. Returns false when the file cannot be
// opened (tracing stays as it was).
bool EnableTo(const std::string& destination);
void Disable();
bool Enabled();

// Reads REMCONS_TRACE: unset or "0" leaves tracing off; "1" or "-" traces to stderr; anything else
// names a file.
void ConfigureFromEnvironment();

// Routes every line to a function instead of the output (tests). An empty function restores the
// output. Installing a sink enables tracing.
void SetSink(std::function<void(std::string_view line)> sink);

// Formats and writes one line. Prefer the RC_TRACE macro.
void Write(const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// The text of a secret as a trace line may show it: its length only, never its characters.
std::string Masked(std::string_view secret);

// While one lives, lines written on its thread are dropped: keys typed for the user from a text
// (a pasted password) leave no trace of what they were.
class Quiet {
 public:
  Quiet();
  ~Quiet();
  Quiet(const Quiet&) = delete;
  Quiet& operator=(const Quiet&) = delete;
};

}  // namespace remcons::trace

#define RC_TRACE(...)                                                                          \
  do {                                                                                         \
    if (::remcons::trace::Enabled()) ::remcons::trace::Write(__FILE__, __LINE__, __VA_ARGS__); \
  } while (0)
