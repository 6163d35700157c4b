// torv-project's words on the terminal: a line of a report on standard
// output, a problem on standard error, one line each whatever the names in
// them hold.
#pragma once

#include <string>
#include <vector>

#include "libtorv/result.h"

namespace torv::project_cli {

constexpr int exit_success = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

// A report's line.
void print_line(const std::string& text);

// A problem's line, as "torv-project: ...".
void say(const std::string& text);

// Says the lines and gives the failure's status.
int fail_with(const std::string& text);
int fail_with(const std::vector<std::string>& lines);

// Every failure's words, one line each, then `last` (if any): the status.
int fail_with(const std::vector<libtorv::failure>& failures, const std::string& last);

}  // namespace torv::project_cli
