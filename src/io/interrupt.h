// What is left to clean up when the run is interrupted. A program's entry
// point installs the handlers once; files being written register their
// temporary names for as long as they exist, and folders a run made for
// files it has not finished putting in place register theirs.
//
// While files are put in place together (see io/file_set.h), an interruption
// waits: the set is completed, or taken back, before the run ends as the
// signal says.
#pragma once

#include <cstddef>

namespace torv {

// From here on SIGINT, SIGTERM and SIGHUP remove every registered temporary
// file and folder and then end the run as the signal would have. SIGXFSZ is
// ignored, so that a write past the file-size limit fails and is reported
// rather than killing the run.
void install_interrupt_cleanup();

// Registers `path` (copied) for removal on interruption, a file or (with
// `folder`) an empty folder; returns the slot to release. Any number may be
// registered; no_cleanup_slot only if memory ran out.
inline constexpr std::size_t no_cleanup_slot = static_cast<std::size_t>(-1);
std::size_t remove_on_interrupt(const char* path, bool folder = false);
void forget_on_interrupt(std::size_t slot);

// The open handle of the file in `slot`: closed before the file is removed,
// as Windows removes no file that is open.
void close_on_interrupt(std::size_t slot, int handle);

// Between these two calls an interruption is held back; at the end, one that
// came meanwhile takes effect (the registered files removed, the run ended).
// Calls may nest.
void hold_interrupts();
void release_interrupts();

// Holds interrupts for as long as it lives.
struct interrupts_held {
    interrupts_held() { hold_interrupts(); }
    ~interrupts_held() { release_interrupts(); }
    interrupts_held(const interrupts_held&) = delete;
    interrupts_held& operator=(const interrupts_held&) = delete;
};

}  // namespace torv
