// A mod as one zip (libtorv/patch.h): each patch at its game file's path,
// what the mod is in every patch's metadata, and a README.txt for people.
#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "io/result.h"
#include "io/words.h"
#include "libtorv/limits.h"
#include "libtorv/patch.h"
#include "libtorv/zip.h"

namespace libtorv {

namespace {

using json = nlohmann::ordered_json;
using torv::failure_of;

constexpr std::string_view patch_ending = ".bps";
constexpr std::string_view readme_name = "README.txt";

// `text` as a JSON string, or why it cannot be one.
result<std::string> json_text(const json& value, std::string_view what) {
    try {
        return value.dump(-1, ' ', false, json::error_handler_t::strict);
    } catch (const json::type_error&) {
        return failure_of(code::bad_argument, std::string(what) + " is not UTF-8 text");
    }
}

std::string crc32_hex(std::uint32_t crc) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out(8, '0');
    for (int k = 7; k >= 0; --k, crc >>= 4) out[static_cast<std::size_t>(k)] = digits[crc & 0xF];
    return out;
}

// README.txt: what the mod is, then each file, then how to apply them.
std::string readme_of(const patch_info& info, const std::vector<bundled_patch>& patches,
                      const std::vector<patch_facts>& facts) {
    std::string out = (info.title.empty() ? std::string("A mod") : info.title) + "\n";
    if (!info.author.empty())
        out += "by " + info.author + "\n";
    if (!info.description.empty())
        out += "\n" + info.description + "\n";
    out += "\nPatches (BPS) for " + torv::counted(patches.size(), "file", "files") +
           " of the game, each .bps at the path of the file it is for:\n\n";
    for (std::size_t k = 0; k < patches.size(); ++k) {
        const patch_facts& of = facts[k];
        out += "  " + patches[k].path + "\n      before: " + torv::grouped(static_cast<std::int64_t>(of.source_size)) +
               " bytes, CRC32 " + crc32_hex(of.source_crc32) +
               "\n      after:  " + torv::grouped(static_cast<std::int64_t>(of.target_size)) + " bytes, CRC32 " +
               crc32_hex(of.target_crc32) + "\n";
    }
    out +=
        "\nTo apply them all at once, with the game's files left as they are:\n\n"
        "  torv-project apply THIS.zip GAME_DIR OUT_DIR\n\n"
        "then copy what OUT_DIR holds over the game's files of the same paths (keep the\n"
        "originals elsewhere). Or apply each .bps to its file with any BPS patcher;\n"
        "a file that is not the one listed \"before\" is another version of the game.\n";
    return out;
}

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

result<std::string> patch_metadata(const patch_info& info, std::string_view path) {
    json metadata;
    metadata["title"] = info.title;
    metadata["author"] = info.author;
    metadata["description"] = info.description;
    if (result<std::string> made = json_text(metadata, "the title, author or description"); !made)
        return made;
    // A game file's name may be any bytes (old CDs' names are not UTF-8):
    // then it is shown with U+FFFD, and kept whole in hex beside it, as the
    // project's manifest keeps it.
    metadata["file"] = std::string(path);
    if (!json_text(json(std::string(path)), ""))
        metadata["file_bytes"] = torv::hex_of(path);
    return metadata.dump(-1, ' ', false, json::error_handler_t::replace);
}

result<bytes> patch_bundle(const patch_info& info, const std::vector<bundled_patch>& patches) {
    std::vector<patch_facts> facts;
    std::map<std::string, std::string> paths;  // in lower case -> as given
    for (const bundled_patch& patch : patches) {
        if (const std::string why = unsafe_path_reason(patch.path); !why.empty()) {
            return failure_of(code::bad_argument, "\"" + patch.path + "\" is no path for a patch: " + why);
        }
        if (!paths.try_emplace(torv::lower_case(patch.path), patch.path).second) {
            return failure_of(code::bad_argument, "two patches for " + patch.path);
        }
        result<patch_facts> of = facts_of_patch(patch.patch);
        if (!of)
            return std::move(of).error();
        facts.push_back(std::move(*of));
    }
    for (const auto& [what, text] : {std::pair{"the title", &info.title}, std::pair{"the author", &info.author},
                                     std::pair{"the description", &info.description}}) {
        if (result<std::string> checked = json_text(*text, what); !checked)
            return std::move(checked).error();
    }
    zip_archive zip;
    const std::string readme = readme_of(info, patches, facts);
    if (result<> added = add_to_zip(zip, std::string(readme_name), bytes_of(readme)); !added)
        return std::move(added).error();
    for (const bundled_patch& patch : patches) {
        if (result<> added = add_to_zip(zip, patch.path + std::string(patch_ending), patch.patch); !added)
            return std::move(added).error();
    }
    return finish_zip(zip);
}

std::string target_of_patch(std::string_view name) {
    return std::string(name.substr(0, name.size() - std::min(name.size(), patch_ending.size())));
}

result<zip_patches> patches_of_zip(std::span<const std::uint8_t> archive) {
    result<std::vector<zip_item>> items = list_zip(archive, largest_patch);
    if (!items)
        return std::move(items).error();
    zip_patches found;
    std::map<std::string, std::string> targets;  // in lower case -> the patch for it
    std::uint64_t unpacked = 0;
    for (const zip_item& item : *items) {
        if (!torv::lower_case(item.name).ends_with(patch_ending))
            continue;
        // The name and the file it is for: "....bps" is a fine name for a
        // patch of "..", which is no file of the game folder.
        const std::string target = target_of_patch(item.name);
        std::string why = unsafe_path_reason(item.name);
        if (why.empty())
            why = unsafe_path_reason(target);
        if (!why.empty()) {
            found.refused.push_back(item.name + ": " + why + ", so it is no patch for a file of the game folder");
            continue;
        }
        const auto [taken, fresh] = targets.try_emplace(torv::lower_case(target), item.name);
        if (!fresh) {
            found.refused.push_back(taken->second + " and " + item.name + " are both patches for " + target +
                                    ": keep one");
            continue;
        }
        unpacked += item.size;
        found.names.push_back(item.name);
    }
    if (unpacked > largest_bundle_contents) {
        found.refused.push_back(
            "its patches unpack to " + torv::grouped(static_cast<std::int64_t>(unpacked)) + " bytes, more than the " +
            torv::grouped(static_cast<std::int64_t>(largest_bundle_contents)) + " a zip of patches may hold");
    }
    std::sort(found.names.begin(), found.names.end());
    return found;
}

result<bytes> patch_of_zip(std::span<const std::uint8_t> archive, std::string_view name) {
    result<std::vector<zip_item>> items = list_zip(archive, largest_patch);
    if (!items)
        return std::move(items).error();
    for (const zip_item& item : *items) {
        if (item.name == name)
            return unzip_item(archive, item);
    }
    return failure_of(code::not_a_file, std::string(name) + " is not in the zip");
}

namespace {

std::string_view last_part(std::string_view path) {
    return path.substr(path.rfind('/') + 1);
}

// The file at the patch's path, in any case; failing that, the one file
// of its name whose path has no folder (a loose file given alone).
std::size_t file_at_path(const std::string& target, const std::vector<listed_game_file>& files) {
    const std::string wanted = torv::lower_case(target);
    const std::string name = torv::lower_case(last_part(target));
    std::size_t loose = patch_for_file::none;
    std::size_t loose_count = 0;
    for (std::size_t k = 0; k < files.size(); ++k) {
        const std::string path = torv::lower_case(files[k].path);
        if (path == wanted)
            return k;
        if (path.find('/') == std::string::npos && path == name) {
            loose = k;
            ++loose_count;
        }
    }
    return loose_count == 1 ? loose : patch_for_file::none;
}

}  // namespace

result<std::vector<patch_for_file>> match_patches(const std::vector<patch_to_match>& patches,
                                                  const std::vector<listed_game_file>& files,
                                                  const crc32_reader& crc_of) {
    std::map<std::size_t, std::uint32_t> crcs;
    // What file k is to a patch, by its size, then (read once) its CRC32.
    auto match_of = [&](std::size_t k, const patch_facts& facts) -> result<patch_match> {
        const std::uint64_t size = files[k].size;
        if (size != facts.source_size && size != facts.target_size)
            return patch_match::other;
        auto known = crcs.find(k);
        if (known == crcs.end()) {
            result<std::uint32_t> crc = crc_of(k);
            if (!crc)
                return std::move(crc).error();
            known = crcs.emplace(k, *crc).first;
        }
        if (size == facts.source_size && known->second == facts.source_crc32)
            return patch_match::source;
        if (size == facts.target_size && known->second == facts.target_crc32)
            return patch_match::target;
        return patch_match::other;
    };
    std::vector<patch_for_file> found;
    for (const patch_to_match& patch : patches) {
        patch_for_file place;
        place.file = file_at_path(patch.target, files);
        if (place.file != patch_for_file::none) {
            result<patch_match> match = match_of(place.file, patch.facts);
            if (!match)
                return std::move(match).error();
            place.match = *match;
            found.push_back(place);
            continue;
        }
        for (std::size_t k = 0; k < files.size() && place.file == patch_for_file::none; ++k) {
            result<patch_match> match = match_of(k, patch.facts);
            if (!match)
                return std::move(match).error();
            if (*match != patch_match::other) {
                place = {k, *match, true};
            }
        }
        found.push_back(place);
    }
    return found;
}

}  // namespace libtorv
