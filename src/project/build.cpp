// libtorv/project.h: a project's build. Every source with an image changed
// or added is built (project/source_build.h); every other source's game file
// is checked to be the one the project was made from, on a thread of its
// own meanwhile. Every failure of every source is kept, in the manifest's
// order, so that one run says all that is wrong.
#include <algorithm>
#include <thread>

#include "io/result.h"
#include "io/words.h"
#include "libtorv/project.h"
#include "pack/parallel.h"
#include "project/source_build.h"

namespace libtorv {

namespace {

using torv::failure_of;

// The game's file of a source, the one the project was made from.
result<bytes> checked_original(const project_source& source, const game_reader& game) {
    result<bytes> file = game(source.path);
    if (!file) {
        return file;
    }
    if (static_cast<std::int64_t>(file->size()) != source.size || sha256_of(*file) != source.sha256) {
        return failure_of(code::original_changed,
                          source.path + " is not the file the project was made from (its " +
                              (static_cast<std::int64_t>(file->size()) != source.size ? "size" : "SHA-256") +
                              " differs)",
                          source.path);
    }
    return file;
}

// Builds one source into `put`, saying what it did.
void build_one(const project_source& source, const source_status& status, const project_folder& folder,
               const game_reader& game, const build_settings& settings, const pack_settings& packing,
               const std::function<result<>(build_output&&)>& put, build_result& done, std::vector<failure>& failures) {
    result<bytes> original = game(source.path);
    if (!original) {
        failures.push_back(std::move(original).error());
        return;
    }
    source_build made = build_source({source, status, *original, folder, packing});
    if (!made.built) {
        failures.insert(failures.end(), made.failures.begin(), made.failures.end());
        return;
    }
    built_source& built = *made.built;
    done.report.push_back(build_line(source, status, built));
    if (built.same_as_original) {
        ++done.unchanged;
        if (settings.copy_unchanged) {
            ++done.copied;
            if (result<> given = put({source.path, false, std::move(*original)}); !given)
                failures.push_back(std::move(given).error());
        }
        return;
    }
    std::string metadata;
    if (settings.patches && settings.info) {
        result<std::string> made_metadata = patch_metadata(*settings.info, source.path);
        if (!made_metadata) {
            failures.push_back(std::move(made_metadata).error());
            return;
        }
        metadata = std::move(*made_metadata);
    }
    bytes patch = settings.patches ? bps_patch(*original, built.packed, metadata) : bytes();
    if (result<> given = put({source.path, false, std::move(built.packed)}); !given) {
        failures.push_back(std::move(given).error());
    }
    if (settings.patches) {
        done.report.push_back(source.path + ".bps: " + torv::grouped(static_cast<std::int64_t>(patch.size())) +
                              " bytes");
        if (result<> given = put({source.path + ".bps", true, std::move(patch)}); !given)
            failures.push_back(std::move(given).error());
    }
}

}  // namespace

build_result build_project(const project_manifest& manifest, const project_status& status, const project_folder& folder,
                           const game_reader& game, const build_settings& settings,
                           const std::function<result<>(build_output&&)>& put) {
    build_result done;
    const std::size_t count = std::min(manifest.sources.size(), status.sources.size());
    std::vector<std::vector<failure>> failures(count);
    std::vector<std::size_t> to_build, to_check;
    for (std::size_t k = 0; k < count; ++k) {
        const source_status& source = status.sources[k];
        failures[k] = source.problems;
        (has_changes(source) && source.problems.empty() ? to_build : to_check).push_back(k);
    }
    pack_settings packing;
    packing.nearest = settings.nearest;
    packing.fit = settings.fit;
    packing.jobs = std::max(1u, settings.jobs);
    packing.words = settings.words;
    packing.words.keep_original.clear();  // a project's original is always there

    // The game files of the sources not built: checked meanwhile, unless
    // they are to be copied (read once, after).
    auto check_others = [&] {
        for (const std::size_t k : to_check) {
            const result<bytes> original = checked_original(manifest.sources[k], game);
            if (!original)
                failures[k].push_back(original.error());
        }
    };
    torv::parallel_for(2, settings.copy_unchanged ? 1 : std::max(2u, packing.jobs), [&](std::size_t part) {
        if (part == 1) {
            if (!settings.copy_unchanged)
                check_others();
            return;
        }
        for (const std::size_t k : to_build) {
            build_one(manifest.sources[k], status.sources[k], folder, game, settings, packing, put, done, failures[k]);
        }
    });
    if (settings.copy_unchanged) {
        for (const std::size_t k : to_check) {
            result<bytes> original = checked_original(manifest.sources[k], game);
            if (!original) {
                failures[k].push_back(std::move(original).error());
            } else if (failures[k].empty()) {
                ++done.copied;
                if (result<> given = put({manifest.sources[k].path, false, std::move(*original)}); !given)
                    failures[k].push_back(std::move(given).error());
            }
        }
    }
    for (const std::size_t k : to_check) {
        done.unchanged += failures[k].empty() ? 1 : 0;
    }
    for (std::vector<failure>& of_source : failures) {
        done.failures.insert(done.failures.end(), of_source.begin(), of_source.end());
    }
    return done;
}

}  // namespace libtorv
