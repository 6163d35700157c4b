#include "io/interrupt.h"

#include <atomic>
#include <csignal>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace torv {

namespace {

// A handler may only touch memory that is already there and lock-free
// atomics: the names live in fixed slots, each published by its flag.
constexpr std::size_t slot_count = 8;
constexpr std::size_t max_path = 4096;

struct slot {
    std::atomic<bool> claimed{false};  // taken by a file being written
    std::atomic<bool> used{false};     // its name is complete: the handler's view
    std::atomic<int> handle{-1};       // open on it, if known
    char path[max_path];
};
slot slots[slot_count];

void remove_file(slot& s) {
#ifdef _WIN32
    const int handle = s.handle.exchange(-1);
    if (handle >= 0) {
        _close(handle);
    }
    DeleteFileA(s.path);
#else
    unlink(s.path);
#endif
}

extern "C" void on_interrupt(int signal_number) {
    for (slot& s : slots) {
        if (s.used.load()) {
            remove_file(s);
        }
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

}  // namespace

void install_interrupt_cleanup() {
    static_assert(std::atomic<bool>::is_always_lock_free);
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);
#ifndef _WIN32
    std::signal(SIGHUP, on_interrupt);
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

std::size_t remove_on_interrupt(const char* path) {
    const std::size_t length = std::strlen(path);
    if (length >= max_path) {
        return no_cleanup_slot;
    }
    for (std::size_t k = 0; k < slot_count; ++k) {
        bool expected = false;
        if (slots[k].claimed.compare_exchange_strong(expected, true)) {
            std::memcpy(slots[k].path, path, length + 1);
            slots[k].handle.store(-1);
            slots[k].used.store(true);
            return k;
        }
    }
    return no_cleanup_slot;
}

void close_on_interrupt(std::size_t slot_index, int handle) {
    if (slot_index < slot_count) {
        slots[slot_index].handle.store(handle);
    }
}

void forget_on_interrupt(std::size_t slot_index) {
    if (slot_index < slot_count) {
        slots[slot_index].used.store(false);
        slots[slot_index].handle.store(-1);
        slots[slot_index].claimed.store(false);
    }
}

}  // namespace torv
