// Writing a file so that it is either complete under its final name or not
// there at all. The bytes go to a temporary file beside the final name (or in
// a folder given, on the same disk), created afresh: never an entry that was
// already there, never through a link. Where the system can, the temporary
// has no name at all until it is complete (Linux's O_TMPFILE), so that
// nothing of it outlives a run that is killed; elsewhere it has a short name
// of its own that says which process made it (".tv1a2b3c4d-1234.tmp", never
// longer than the final name's where that is long), is removed on every
// failure and on interruption (see io/interrupt.h), and one left behind by
// a process that is gone is removed by the next run that writes into its
// folder. The file is put in place only when complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

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
    std::string temp_folder;  // where the temporary lies, with its separator ("" for the final name's folder)
    std::string temp_name;    // the temporary's name while it has one
    existing_entry existing = existing_entry::refuse;
    int handle = -1;
    bool unnamed = false;        // the temporary has no name (held by `handle` alone)
    bool placed = false;         // it is the final name's now
    int write_error = 0;         // the first failed write's errno; later writes are skipped
    bool name_was_free = false;  // nothing had the final name just before: no permissions to keep
    std::size_t cleanup_slot = no_cleanup_slot;

    output_file() = default;
    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;
    output_file(output_file&& other) noexcept;
    output_file& operator=(output_file&&) = delete;
    // Removes the temporary file unless it was put in place.
    ~output_file();
};

// Creates `name` as a new, empty file open for writing and returns its
// handle; -1 (errno says why) if any entry has that name, a link included,
// which is never followed. Every named temporary file is created this way.
int create_new_file(const std::string& name);

// Creates the temporary file for `final_name`, in `temp_folder` (with its
// separator; empty for the final name's own folder). With `refuse`, an
// entry of that name already there fails at once.
result<> begin_output(output_file& out, const std::string& final_name, existing_entry existing,
                      const std::string& temp_folder = {});

// Appends bytes; a failure is kept and reported when the file is completed.
void write_output(output_file& out, std::span<const std::uint8_t> bytes);
void write_output(output_file& out, std::span<const std::span<const std::uint8_t>> parts);

// Ends the writing: every byte is in the temporary, or the failure to write
// one is reported (a full disk, a size limit). The file is not in place yet.
result<> complete_output(output_file& out);

// Gives an unnamed temporary a name (in its folder), so that its handle can
// be closed; a named one is left as it is.
result<> name_output(output_file& out);

// Puts a completed file in place of its final name.
result<> place_output(output_file& out);

// Completes the file and puts it in place.
result<> finish_output(output_file& out);

// The three steps at once: `parts` written one after the other. With
// `replace`, a plain file of that name (with no other link) that holds
// these very bytes already is left as it is: writing it again would change
// nothing but its inode.
result<> write_whole_file(const std::string& final_name, std::span<const std::span<const std::uint8_t>> parts,
                          existing_entry existing);

// A name for a temporary or a kept copy in `folder` (with its separator),
// no longer than `final_length` bytes after it where a usual one would be
// too long for the system.
std::string temporary_name(const std::string& folder, std::size_t final_length);

// True if `name` (without its folder) is a temporary's, as named here, and
// the process that made it, if known.
bool is_temporary_name(std::string_view name, unsigned long* process = nullptr);

// Removes, once a run for each folder, the temporaries in `folder` (with its
// separator) that a process which is gone left behind: only files named as
// ours, made by this user, whose process no longer runs.
void remove_stale_temporaries(const std::string& folder);

}  // namespace torv
