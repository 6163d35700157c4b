#include "io/interrupt.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <new>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace torv {

namespace {

// A handler may only touch memory that is already there and lock-free
// atomics. The names live in entries of a list that only grows: an entry is
// made (outside any handler) when no free one is long enough, pushed at the
// head, and reused once released; the handler walks it from the head.
struct entry {
    std::atomic<bool> claimed{false};  // taken by a file being written
    std::atomic<bool> used{false};     // its name is complete: the handler's view
    std::atomic<int> handle{-1};       // open on it, if known
    bool folder = false;
    std::size_t capacity = 0;
    char* path = nullptr;
    entry* next = nullptr;  // set once, before the entry is published
};

std::atomic<entry*> head{nullptr};
// Entries given back and not claimed again: while there are none, a claim
// makes a new entry without walking the list, which holds every file a
// whole project has staged (hundreds of thousands).
std::atomic<std::size_t> free_entries{0};
std::atomic<int> holds{0};
std::atomic<int> pending_signal{0};

void remove_file(entry& e) {
#ifdef _WIN32
    const int handle = e.handle.exchange(-1);
    if (handle >= 0) {
        _close(handle);
    }
    if (e.folder) {
        RemoveDirectoryA(e.path);
    } else {
        DeleteFileA(e.path);
    }
#else
    if (e.folder) {
        rmdir(e.path);
    } else {
        unlink(e.path);
    }
#endif
}

// Files first, then folders, the newest first: a folder made inside another
// goes before it.
void clean_up_and_end(int signal_number) {
    for (const bool folders : {false, true}) {
        for (entry* e = head.load(); e != nullptr; e = e->next) {
            if (e->used.load() && e->folder == folders) {
                remove_file(*e);
            }
        }
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

extern "C" void on_interrupt(int signal_number) {
    if (holds.load() > 0) {
        pending_signal.store(signal_number);
        std::signal(signal_number, on_interrupt);  // Windows resets a handler once it has run
        return;
    }
    clean_up_and_end(signal_number);
}

entry* entry_of(std::size_t slot) {
    return slot == no_cleanup_slot ? nullptr : reinterpret_cast<entry*>(static_cast<std::uintptr_t>(slot));
}

// A free entry whose name can hold `length` bytes, claimed; a new one if
// none is free.
entry* claim_entry(std::size_t length) {
    for (entry* e = free_entries.load() > 0 ? head.load() : nullptr; e != nullptr; e = e->next) {
        bool expected = false;
        if (e->capacity > length && e->claimed.compare_exchange_strong(expected, true)) {
            free_entries.fetch_sub(1);
            return e;
        }
    }
    auto* made = new (std::nothrow) entry;
    char* path = made != nullptr ? new (std::nothrow) char[length + 1] : nullptr;
    if (path == nullptr) {
        delete made;
        return nullptr;
    }
    made->path = path;
    made->capacity = length + 1;
    made->claimed.store(true);
    made->next = head.load();
    while (!head.compare_exchange_weak(made->next, made)) {
    }
    return made;
}

}  // namespace

void install_interrupt_cleanup() {
    static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);
#ifndef _WIN32
    std::signal(SIGHUP, on_interrupt);
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

std::size_t remove_on_interrupt(const char* path, bool folder) {
    const std::size_t length = std::strlen(path);
    entry* e = claim_entry(length);
    if (e == nullptr) {
        return no_cleanup_slot;
    }
    std::memcpy(e->path, path, length + 1);
    e->folder = folder;
    e->handle.store(-1);
    e->used.store(true);
    return static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(e));
}

void close_on_interrupt(std::size_t slot, int handle) {
    if (entry* e = entry_of(slot)) {
        e->handle.store(handle);
    }
}

void forget_on_interrupt(std::size_t slot) {
    if (entry* e = entry_of(slot)) {
        e->used.store(false);
        e->handle.store(-1);
        free_entries.fetch_add(1);
        e->claimed.store(false);
    }
}

void hold_interrupts() {
    holds.fetch_add(1);
}

void release_interrupts() {
    if (holds.fetch_sub(1) == 1) {
        const int signal_number = pending_signal.exchange(0);
        if (signal_number != 0) {
            clean_up_and_end(signal_number);
        }
    }
}

}  // namespace torv
