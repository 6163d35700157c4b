// libtorv's one way to fail: a function gives a result<T>, which holds either
// its value or a failure. A failure carries a code (one enum for the whole
// library), the words a person reads, and the facts a front end may want to
// show on its own terms: the file, the pixel and its colour, the bytes
// needed and the room there is.
//
//   result<picture> read = read_bmp(bytes, limit);
//   if (!read) { show(read.error().words); return; }
//   use(*read);
//
// Running out of memory is the one exception: std::bad_alloc.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace libtorv {

enum class code : std::uint8_t {
    // Files.
    cannot_open,         // the system refused to open it
    not_a_file,          // a folder, a FIFO, a device: not a plain file
    cannot_read,         // reading failed
    changed_while_read,  // its size changed while it was read
    file_too_large,      // far larger than what it may hold
    cannot_list,         // a folder could not be listed
    cannot_create,       // a new file could not be made
    cannot_write,        // writing or closing failed (a full disk, a size limit)
    exists,              // an entry has the name, and may not be replaced
    cannot_place,        // the finished file could not be put under its name
    // Image files.
    not_an_image,       // not a BMP (or PNG) file at all
    unsupported_image,  // a kind of BMP, PNG or zip this library does not read
    image_cut_short,    // the file ends before its picture does
    bad_image,          // the file contradicts itself (sizes, masks, indices)
    not_opaque,         // a pixel is not fully opaque
    image_too_large,    // more pixels than the image may have
    // Layouts and the images that make them.
    no_layout,         // a file of the size of no layout
    unknown_layout,    // no layout has that name
    layout_conflict,   // the layout asked for is not the original's
    layout_undecided,  // neither the original nor the images say which layout
    missing_image,     // an image the layout needs is not there
    missing_frame,     // a gap in the frames, with later frames there
    both_kinds,        // an image is there as BMP and as PNG
    wrong_size,        // an image is not the size its place in the layout has
    unused_image,      // an image given is none that the layout names
    nothing_to_pack,   // no images were given
    // Packing.
    colour_lacking,     // a pixel's colour is none of its palette's
    ambiguous_colour,   // a pixel's stored colour stands for several palette entries alike, and nothing decides
    palette_full,       // more new colours than free palette entries
    block_too_large,    // a compressed block needs more room than it has
    frames_do_not_fit,  // the records of the frames need more room than the file has
    too_many_frames,    // more frames than a file can have records
    // Patches and projects.
    bad_patch,         // a patch cut short or changed, or one that does not hold together
    wrong_source,      // a patch for another file than the one given
    bad_project,       // a project without its manifest, or a manifest that cannot be read
    project_version,   // a project of a format this tool does not read
    original_changed,  // a game file that is not the one the project was made from
    // A caller's mistake.
    bad_argument,  // a value no caller should pass (an image view whose sizes disagree, ...)
};

// The code's name, as a front end may match it: "colour_lacking", ...
std::string_view code_name(code what);

struct pixel_position {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

struct image_size {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

struct failure {
    libtorv::code code = code::bad_argument;
    std::string words;   // one line for a person: what failed and why
    std::string file;    // the file it is about, when there is one
    std::string reason;  // the system's words for the cause, when it gave any
    std::optional<pixel_position> pixel;
    std::optional<std::uint32_t> colour;  // the pixel's, as 0xRRGGBB
    std::optional<image_size> size;       // the image's, as its file says
    std::int64_t needed = -1;             // bytes (or entries, or records) needed, when it is a matter of room
    std::int64_t room = -1;               // and how many there are
};

// A value, or why there is none.
template <class T = void>
class [[nodiscard]] result {
public:
    result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    result(failure why) : state_(std::in_place_index<1>, std::move(why)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const failure& error() const& { return std::get<1>(state_); }
    failure&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, failure> state_;
};

// Done, or why not.
template <>
class [[nodiscard]] result<void> {
public:
    result() = default;
    result(failure why) : failed_(std::move(why)) {}

    bool ok() const { return !failed_.has_value(); }
    explicit operator bool() const { return ok(); }

    const failure& error() const& { return *failed_; }
    failure&& error() && { return std::move(*failed_); }

private:
    std::optional<failure> failed_;
};

}  // namespace libtorv
