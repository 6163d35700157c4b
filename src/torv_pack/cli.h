// torv-pack's command line: finds the images torv wrote, packs them and puts
// the file in place.
#pragma once

namespace torv {

// Runs torv-pack; returns the exit status: 0 on success, 1 on failure, 2 for
// a usage error.
int run_pack(int argc, char** argv);

}  // namespace torv
