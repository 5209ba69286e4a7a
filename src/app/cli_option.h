#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "core/options.h"

namespace zentrove::app {

// `zentrove option KEY=VALUE...`: sets program options by their keys in Zentrove.ini, all of them or
// none (exit 2 for an unknown key or a bad value). Passwords are given in clear and stored scrambled.
// Without arguments: every option with its value, one "KEY=VALUE" line each, passwords as "*****".
int RunOptionCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// Sets one option on `options` from the text given for its key; the error says what is wrong.
bool SetOptionValue(core::ProgramOptions& options, std::string_view key, std::string_view value,
                    std::string& error);
// "KEY=VALUE" lines of every option in the order of the file's reading.
std::vector<std::string> OptionLines(const core::ProgramOptions& options);

// `zentrove smtp-test`: the options window's SMTP test with the stored options. Prints "SMTP Test: Ok"
// (exit 0) or the error (exit 1).
int RunSmtpTestCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace zentrove::app
