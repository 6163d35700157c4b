#include "torv_project/writer.h"

#include "torv_project/say.h"

namespace torv::project_cli {

std::vector<std::string> refused_destinations(const std::vector<destination>& destinations) {
    std::vector<std::string> lines;
    for (const destination& to : destinations) {
        // Only the way there is checked here: a file of the name is met
        // when it is written, by then known to be needed.
        const libtorv::result<> checked = check_destination(to.folder.string(), to.relative, existing_entry::replace);
        if (!checked)
            lines.push_back(checked.error().words);
    }
    return lines;
}

std::vector<std::string> lacking_room(const fs::path& folder, std::uint64_t bytes) {
    const libtorv::result<> room = check_room(folder.string(), bytes);
    if (room)
        return {};
    return {room.error().words};
}

libtorv::result<> stage(file_set& set, const destination& to, std::span<const std::uint8_t> contents,
                        bool force_words) {
    const std::span<const std::uint8_t> parts[] = {contents};
    libtorv::result<> staged = stage_file(set, to.folder.string(), to.relative, parts);
    if (!staged && staged.error().code == libtorv::code::exists) {
        libtorv::failure why = staged.error();
        why.words = why.file + (force_words ? " exists (-f replaces it)" : " exists");
        return why;
    }
    return staged;
}

int place_all(file_set& set) {
    libtorv::result<> placed = place_files(set);
    if (!placed) {
        const bool all_taken_back = placed.error().words.find("could not be taken back") == std::string::npos;
        return fail_with({placed.error().words, all_taken_back ? "nothing was written" : ""});
    }
    return exit_success;
}

}  // namespace torv::project_cli
