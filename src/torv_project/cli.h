// torv-project's command line: unpack, status, build and apply.
#pragma once

namespace torv {

// Runs torv-project; returns the exit status: 0 on success, 1 on failure, 2
// for a usage error.
int run_project(int argc, char** argv);

}  // namespace torv
