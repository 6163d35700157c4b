// The converter's run as a whole: command line, names, dispatch by file size.
#pragma once

namespace torv {

// Runs the whole conversion for the given argument vector and returns the
// exit status of a completed run (0). A detected failure prints its line and
// ends the process with status 1; here alone, below it they are values.
int run(int argc, const char* const* argv);

}  // namespace torv
