// The converter's run as a whole: command line, names, dispatch by file size.
#pragma once

namespace torv {

// Runs the whole conversion for the given argument vector and returns the
// exit status of a completed run (0). Detected failures end the process from
// wherever they are met, with status 1.
int run(int argc, const char* const* argv);

}  // namespace torv
