#include "io/result.h"

namespace libtorv {

std::string_view code_name(code what) {
    switch (what) {
        case code::cannot_open: return "cannot_open";
        case code::not_a_file: return "not_a_file";
        case code::cannot_read: return "cannot_read";
        case code::changed_while_read: return "changed_while_read";
        case code::file_too_large: return "file_too_large";
        case code::cannot_list: return "cannot_list";
        case code::cannot_create: return "cannot_create";
        case code::cannot_write: return "cannot_write";
        case code::exists: return "exists";
        case code::cannot_place: return "cannot_place";
        case code::not_an_image: return "not_an_image";
        case code::unsupported_image: return "unsupported_image";
        case code::image_cut_short: return "image_cut_short";
        case code::bad_image: return "bad_image";
        case code::not_opaque: return "not_opaque";
        case code::image_too_large: return "image_too_large";
        case code::no_layout: return "no_layout";
        case code::unknown_layout: return "unknown_layout";
        case code::layout_conflict: return "layout_conflict";
        case code::layout_undecided: return "layout_undecided";
        case code::missing_image: return "missing_image";
        case code::missing_frame: return "missing_frame";
        case code::both_kinds: return "both_kinds";
        case code::wrong_size: return "wrong_size";
        case code::unused_image: return "unused_image";
        case code::nothing_to_pack: return "nothing_to_pack";
        case code::colour_lacking: return "colour_lacking";
        case code::ambiguous_colour: return "ambiguous_colour";
        case code::palette_full: return "palette_full";
        case code::block_too_large: return "block_too_large";
        case code::frames_do_not_fit: return "frames_do_not_fit";
        case code::too_many_frames: return "too_many_frames";
        case code::bad_patch: return "bad_patch";
        case code::wrong_source: return "wrong_source";
        case code::bad_project: return "bad_project";
        case code::project_version: return "project_version";
        case code::original_changed: return "original_changed";
        case code::bad_argument: return "bad_argument";
    }
    return "unknown";
}

}  // namespace libtorv
