// torv-project's commands, each in a file of its own; the command line
// (cli.cpp) fills in what each is given.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "libtorv/manifest.h"
#include "libtorv/patch.h"
#include "libtorv/project.h"

namespace torv::project_cli {

namespace fs = std::filesystem;

struct unpack_command {
    fs::path game;
    fs::path project;
    bool bmp = false;
    bool gif = false;
    bool palettes = false;
    unsigned jobs = 0;
    bool quiet = false;
};

struct status_command {
    fs::path project;
    std::optional<fs::path> game;
    bool quiet = false;  // only what is wrong
};

struct build_command {
    fs::path project;
    fs::path game;
    fs::path out;
    std::optional<fs::path> patches;
    std::optional<fs::path> patch_file;  // one zip of every patch (libtorv/patch.h's bundle)
    libtorv::patch_info info;
    bool nearest = false;
    bool fit = false;
    bool copy_unchanged = false;
    bool force = false;
    unsigned jobs = 0;
    bool quiet = false;
};

struct apply_command {
    fs::path patches;
    fs::path game;
    fs::path out;
    bool force = false;
    bool quiet = false;
};

struct watch_command {
    build_command build;  // what each build is given; its files replaced
    unsigned poll_ms = 200;
    unsigned settle_ms = 500;  // how long a changed file must be still before it is taken
};

// Each gives the exit status.
int unpack_game(const unpack_command& cmd);
int show_status(const status_command& cmd);
int build_game(const build_command& cmd);
int watch_project(const watch_command& cmd);

// A build as build_game makes it, its failures said, its report left in
// `built` and the files it put in place in `placed` (if given): the status.
int build_into(const build_command& cmd, libtorv::build_result& built, std::vector<fs::path>* placed = nullptr);
int apply_patches(const apply_command& cmd);

// The manifest of the project in `folder`.
libtorv::result<libtorv::project_manifest> open_project(const fs::path& folder);

// Threads for `asked` (0: every core).
unsigned jobs_for(unsigned asked);

}  // namespace torv::project_cli
