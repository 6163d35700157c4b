// A zip archive of any bytes, as the page reads what a person drops on it:
// its files or a refusal, never reading outside the archive, never a file
// over the limit; an archive the page writes of them, whole or handed out a
// file at a time, reads back the same.
// Read as a mod's zip of patches: every patch taken has a path that stays
// within its folder, no two are for one file, and each unpacks or is
// refused.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "libtorv/patch.h"
#include "libtorv/zip.h"

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "zip_fuzz: %s\n", what);
    std::abort();
}

constexpr std::uint64_t most_bytes = 1 << 20;

}  // namespace

// `unpack`: the patches taken may be unpacked (their sizes are within the
// fuzzer's memory budget).
void check_patches(std::span<const std::uint8_t> archive, bool unpack) {
    const libtorv::result<libtorv::zip_patches> found = libtorv::patches_of_zip(archive);
    if (!found)
        return;
    std::set<std::string> targets;
    for (const std::string& name : found->names) {
        std::string target = libtorv::target_of_patch(name);
        if (target.empty() || target.front() == '/' || (target.size() > 1 && target[1] == ':'))
            finding("a patch of an absolute path was taken");
        for (std::size_t from = 0; from <= target.size();) {
            const std::size_t to = std::min(target.find('/', from), target.size());
            const std::string part = target.substr(from, to - from);
            if (part.empty() || part == "." || part == "..")
                finding("a patch whose path leaves its folder was taken");
            from = to + 1;
        }
        for (char& c : target) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!targets.insert(target).second)
            finding("two patches for one file were taken");
        if (unpack)
            (void)libtorv::patch_of_zip(archive, name);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const libtorv::result<std::vector<libtorv::zip_entry>> read = libtorv::read_zip({data, size}, most_bytes);
    check_patches({data, size}, read.ok());
    if (!read)
        return 0;
    libtorv::zip_archive zip;
    for (const libtorv::zip_entry& entry : *read) {
        if (entry.contents.size() > most_bytes)
            finding("a file over the limit");
        if (!libtorv::add_to_zip(zip, entry.name, entry.contents))
            return 0;
    }
    const std::vector<std::uint8_t> written = libtorv::finish_zip(zip);
    // The same archive handed out a file at a time reads back alike.
    std::vector<std::uint8_t> streamed;
    for (const libtorv::zip_entry& entry : *read) {
        (void)libtorv::add_to_zip(zip, entry.name, entry.contents);
        const std::vector<std::uint8_t> piece = libtorv::take_zip_bytes(zip);
        streamed.insert(streamed.end(), piece.begin(), piece.end());
    }
    const std::vector<std::uint8_t> rest = libtorv::finish_zip(zip);
    streamed.insert(streamed.end(), rest.begin(), rest.end());
    const std::vector<std::uint8_t>* const archives[] = {&written, &streamed};
    for (const std::vector<std::uint8_t>* archive : archives) {
        const libtorv::result<std::vector<libtorv::zip_entry>> again = libtorv::read_zip(*archive, most_bytes);
        if (!again || again->size() != read->size())
            finding("an archive written of what was read does not read back");
        for (std::size_t k = 0; k < read->size(); ++k) {
            if ((*again)[k].name != (*read)[k].name || (*again)[k].contents != (*read)[k].contents)
                finding("a file changed on the way");
        }
    }
    return 0;
}
