#include "torv_project/cli.h"

#include <CLI/CLI.hpp>
#include <new>
#include <string>

#include "cli/console.h"
#include "io/interrupt.h"
#include "torv_project/commands.h"
#include "torv_project/say.h"

#ifndef TORV_VERSION
#define TORV_VERSION "unknown"
#endif

namespace torv {

namespace {

using namespace project_cli;

void add_jobs(CLI::App* command, unsigned& jobs, const std::string& what) {
    command->add_option("-j,--jobs", jobs, "threads for " + what + " (default: all cores)")->check(CLI::Range(1, 1024));
}

void add_quiet(CLI::App* command, bool& quiet, const std::string& what = "no report") {
    command->add_flag("-q,--quiet", quiet, what);
}

int run_command(int argc, char** argv) {
    CLI::App app{
        "torv-project: a whole game's image data files as a project of editable images, built back "
        "where they changed, and BPS patches of what changed"};
    app.set_version_flag("-V,--version", std::string("torv-project ") + TORV_VERSION);
    app.require_subcommand(1);
    app.name("torv-project");

    unpack_command unpack;
    std::string game_dir, project_dir;
    CLI::App* unpacking = app.add_subcommand("unpack", "writes every source of GAME_DIR as images into PROJECT_DIR");
    unpacking->add_option("GAME_DIR", game_dir, "the game's folder")->required();
    unpacking->add_option("PROJECT_DIR", project_dir, "a new or empty folder for the project")->required();
    unpacking->add_flag("--bmp", unpack.bmp, "the images as BMP files (default: indexed PNG)");
    unpacking->add_flag("--gif", unpack.gif, "each frame sequence also as <stem>.gif, 12 frames a second");
    unpacking->add_flag("--palettes", unpack.palettes,
                        "each palette the images use, once, as .gpl (GIMP), .pal (JASC) and .act (Adobe) beside "
                        "them, and <stem>-palettes.txt saying which images use which");
    add_jobs(unpacking, unpack.jobs, "making the images");
    add_quiet(unpacking, unpack.quiet);

    status_command status;
    std::string status_project, status_game;
    CLI::App* stating = app.add_subcommand("status", "lists what changed in PROJECT_DIR");
    stating->add_option("PROJECT_DIR", status_project, "the project")->required();
    stating->add_option("GAME_DIR", status_game, "the game's folder, to check its files against the project's");
    add_quiet(stating, status.quiet, "only what is wrong: what keeps the project from being built");

    build_command build;
    std::string build_project, build_game_dir, build_out, build_patches;
    CLI::App* building = app.add_subcommand("build", "packs every source whose images changed into OUT_DIR");
    building->add_option("PROJECT_DIR", build_project, "the project")->required();
    building->add_option("GAME_DIR", build_game_dir, "the game's folder, with the files the project was made from")
        ->required();
    building->add_option("OUT_DIR", build_out, "where the rebuilt files go, by their paths in GAME_DIR")->required();
    building->add_flag("--nearest", build.nearest, "colours the palette lacks go to the nearest entry");
    building->add_flag("--fit", build.fit,
                       "any picture made the best the game can show: colours chosen for it, pixels changed as little "
                       "as makes it fit");
    building->add_option("--patch", build_patches, "also a BPS patch of each rebuilt file, as PATCH_DIR/<path>.bps");
    std::string build_patch_file;
    building->add_option("--patch-file", build_patch_file,
                         "also one zip of every patch, each at its file's path, with a README.txt: the mod to share");
    building->add_option("--title", build.info.title, "the mod's name, in the patches and the README.txt");
    building->add_option("--author", build.info.author, "who made it");
    building->add_option("--description", build.info.description, "what it changes");
    building->add_flag("--copy-unchanged", build.copy_unchanged, "copy the unchanged sources into OUT_DIR too");
    building->add_flag("-f,--force", build.force, "replace files in OUT_DIR (and PATCH_DIR)");
    add_jobs(building, build.jobs, "compressing");
    add_quiet(building, build.quiet);

    apply_command apply;
    std::string apply_patches_dir, apply_game, apply_out;
    CLI::App* applying =
        app.add_subcommand("apply", "applies every .bps of PATCHES (a folder, or a zip) to its file of GAME_DIR");
    applying->add_option("PATCHES", apply_patches_dir, "the patches, by the paths of their files: a folder or a zip")
        ->required();
    applying->add_option("GAME_DIR", apply_game, "the game's folder")->required();
    applying->add_option("OUT_DIR", apply_out, "where the patched files go")->required();
    applying->add_flag("-f,--force", apply.force, "replace files in OUT_DIR");
    add_quiet(applying, apply.quiet);

    watch_command watch;
    std::string watch_project_dir, watch_game, watch_out, watch_patches;
    CLI::App* watching = app.add_subcommand(
        "watch", "builds PROJECT_DIR into OUT_DIR as build -f does, again after every change, until Ctrl-C");
    watching->add_option("PROJECT_DIR", watch_project_dir, "the project")->required();
    watching->add_option("GAME_DIR", watch_game, "the game's folder, with the files the project was made from")
        ->required();
    watching->add_option("OUT_DIR", watch_out, "where the rebuilt files go (replaced at each build)")->required();
    watching->add_option("--patch", watch_patches, "also a BPS patch of each rebuilt file, as PATCH_DIR/<path>.bps");
    watching->add_flag("--nearest", watch.build.nearest, "colours the palette lacks go to the nearest entry");
    watching->add_flag("--fit", watch.build.fit, "any picture made the best the game can show (as build --fit)");
    add_jobs(watching, watch.build.jobs, "compressing");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& asked) {
        return app.exit(asked);
    } catch (const CLI::CallForAllHelp& asked) {
        return app.exit(asked);
    } catch (const CLI::CallForVersion& asked) {
        return app.exit(asked);
    } catch (const CLI::ParseError& wrong) {
        say(std::string(wrong.what()) + " (try 'torv-project --help')");
        return exit_usage;
    }
    if (unpacking->parsed()) {
        unpack.game = game_dir;
        unpack.project = project_dir;
        return unpack_game(unpack);
    }
    if (stating->parsed()) {
        status.project = status_project;
        if (!status_game.empty())
            status.game = fs::path(status_game);
        return show_status(status);
    }
    if (building->parsed()) {
        build.project = build_project;
        build.game = build_game_dir;
        build.out = build_out;
        if (!build_patches.empty())
            build.patches = fs::path(build_patches);
        if (!build_patch_file.empty())
            build.patch_file = fs::path(build_patch_file);
        const bool described =
            !build.info.title.empty() || !build.info.author.empty() || !build.info.description.empty();
        if (described && !build.patches && !build.patch_file) {
            say("--title, --author and --description describe patches: give --patch-file or --patch too "
                "(try 'torv-project --help')");
            return exit_usage;
        }
        return build_game(build);
    }
    if (watching->parsed()) {
        watch.build.project = watch_project_dir;
        watch.build.game = watch_game;
        watch.build.out = watch_out;
        if (!watch_patches.empty())
            watch.build.patches = fs::path(watch_patches);
        watch.build.force = true;  // each build replaces the last
        watch.build.quiet = true;
        return watch_project(watch);
    }
    apply.patches = apply_patches_dir;
    apply.game = apply_game;
    apply.out = apply_out;
    return apply_patches(apply);
}

}  // namespace

int run_project(int argc, char** argv) {
    constexpr std::size_t least_memory = 4 << 20;
    if (!cli::memory_to_start(least_memory)) {
        return fail_with("out of memory");
    }
    install_interrupt_cleanup();
    try {
        return run_command(argc, argv);
    } catch (const std::bad_alloc&) {
        return fail_with("out of memory");
    } catch (const std::filesystem::filesystem_error& failed) {
        // A name the system cannot take, or a folder that went away meanwhile.
        return fail_with(failed.what());
    }
}

}  // namespace torv
