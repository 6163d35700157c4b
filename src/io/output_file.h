// Writing a file so that it is either complete under its final name or not
// there at all. The bytes go to a temporary file beside the final name,
// created afresh (never an entry that was already there, never through a
// link), with a short name of its own (never longer than the final name's
// where that is long) so that any legal final name works; it is put in place
// only when complete, and removed on every failure and on interruption (see
// io/interrupt.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "io/interrupt.h"
#include "io/result.h"

namespace torv {

// What happens to an entry that already has the final name.
enum class existing_entry : std::uint8_t {
    refuse,   // any entry (file, link, folder, device...) fails the write, even one that appears meanwhile
    replace,  // a file is replaced and its permissions kept; a link is replaced, never written through
};

struct output_file {
    std::string final_name;
    std::string temp_name;  // empty once put in place
    existing_entry existing = existing_entry::refuse;
    int handle = -1;
    int write_error = 0;         // the first failed write's errno; later writes are skipped
    bool name_was_free = false;  // nothing had the final name just before: no permissions to keep
    std::size_t cleanup_slot = no_cleanup_slot;

    output_file() = default;
    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;
    // Removes the temporary file unless it was put in place.
    ~output_file();
};

// Creates `name` as a new, empty file open for writing and returns its
// handle; -1 (errno says why) if any entry has that name, a link included,
// which is never followed. Every temporary file is created this way.
int create_new_file(const std::string& name);

// Creates the temporary file for `final_name`. With `refuse`, an entry of
// that name already there fails at once.
result<> begin_output(output_file& out, const std::string& final_name, existing_entry existing);

// Appends bytes; a failure is kept and reported by finish_output.
void write_output(output_file& out, std::span<const std::uint8_t> bytes);
void write_output(output_file& out, std::span<const std::span<const std::uint8_t>> parts);

// Completes the file and puts it in place of its final name.
result<> finish_output(output_file& out);

// The three steps at once: `parts` written one after the other. With
// `replace`, a plain file of that name (with no other link) that holds
// these very bytes already is left as it is: writing it again would change
// nothing but its inode.
result<> write_whole_file(const std::string& final_name, std::span<const std::span<const std::uint8_t>> parts,
                          existing_entry existing);

}  // namespace torv
