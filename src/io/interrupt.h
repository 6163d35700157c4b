// Temporary files removed when the run is interrupted. A program's entry
// point installs the handlers once; files being written register their
// temporary names for as long as they exist.
#pragma once

#include <cstddef>

namespace torv {

// From here on SIGINT, SIGTERM and SIGHUP remove every registered temporary
// file and then end the run as the signal would have. SIGXFSZ is ignored, so
// that a write past the file-size limit fails and is reported rather than
// killing the run.
void install_interrupt_cleanup();

// Registers `path` (copied) for removal on interruption; returns the slot to
// release, or no_cleanup_slot if every slot is taken (then the file is only
// removed on ordinary failures).
inline constexpr std::size_t no_cleanup_slot = static_cast<std::size_t>(-1);
std::size_t remove_on_interrupt(const char* path);
void forget_on_interrupt(std::size_t slot);

// The open handle of the file in `slot`: closed before the file is removed,
// as Windows removes no file that is open.
void close_on_interrupt(std::size_t slot, int handle);

}  // namespace torv
