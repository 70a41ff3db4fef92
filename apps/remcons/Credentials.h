// The console's secrets kept off the command line, where every user of the machine can read them
// (ps): the password of --user from a file, the environment or a prompt on the terminal, and
// properties from a file of NAME=VALUE lines. Files that others may read, and secrets given with
// --param after all, bring a one-line warning.
#pragma once

#include <string>
#include <vector>

#include "Options.h"
#include "platform/Secret.h"
#include "session/PropertyBag.h"

namespace remcons::app {

// The environment variable that may hold the password.
inline constexpr char kPasswordVariable[] = "REMCONS_PASSWORD";

enum class PasswordSource { kFile, kEnvironment, kTerminal, kNone };

// The password for --user: from --password-file (its first line), else from REMCONS_PASSWORD,
// else typed at a prompt on the process's terminal, which does not echo it. kNone with an empty
// error when there is no terminal to ask on; with an error when a source failed. prompt is
// shown before the typing ("Password for NAME@HOST: ").
PasswordSource ReadPassword(const Options& options, const std::string& prompt,
                            SecretString* password, std::string* error,
                            std::vector<std::string>* warnings);

// NAME=VALUE lines, '#' comment lines and blank lines; false with a reason (the line's number)
// for any other line or an unreadable file.
bool ReadParamsFile(const std::string& path, PropertyBag* params, std::string* error,
                    std::vector<std::string>* warnings);

// One line per secret property given with --param, which other users can read.
std::vector<std::string> CommandLineSecretWarnings(const Options& options);

}  // namespace remcons::app
