// Runs the built program in a scratch folder and reads what it left there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace torv::test {

using bytes = std::vector<std::uint8_t>;

struct run_result {
    int status = -1;        // exit status
    std::string output;     // everything printed on standard output
    std::string errors;     // everything printed on standard error
    long peak_rss_kib = 0;  // the program's peak resident memory
};

struct run_options {
    // Largest file the program may write (RLIMIT_FSIZE), or 0 for no limit.
    std::uint64_t file_size_limit = 0;
    // Largest address space the program may take (RLIMIT_AS), or 0.
    std::uint64_t memory_limit = 0;
    // Run torv-pack, or torv-project, rather than torv.
    bool pack = false;
    bool project = false;
    // Called while the program runs, with the process that signals reach it
    // through.
    std::function<void(int pid)> while_running;
};

// True when the program under test is a Windows build run through Wine: there
// the backslash separates directories and a drive letter names a drive.
bool under_wine();

// True when peak_rss_kib says what the program itself needs: not through
// Wine, and not in a sanitized build, whose shadow memory dwarfs it.
bool memory_is_measurable();

// True if the process `pid` is writing a file that has no name yet (a
// temporary of Linux's O_TMPFILE, which no listing shows).
bool writes_unnamed_file(int pid);

// A drive argument whose outputs land in the current folder under Wine, and a
// plain letter elsewhere.
std::string drive_letter();

// A fresh, empty folder for one test; removed by the destructor.
class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Writes a file named as the program would name it (backslashes are
    // directories under Wine). Creates parent folders as needed.
    void write(const std::string& name, const bytes& data) const;
    bytes read(const std::string& name) const;
    bool exists(const std::string& name) const;
    // The names of all regular files below the folder, relative to it, sorted.
    std::vector<std::string> files() const;
    // Where a name handed to the program ends up in the host's file system.
    std::filesystem::path host_path(const std::string& name) const;

    run_result run(const std::vector<std::string>& args, const run_options& options = {}) const;
    run_result run_pack(const std::vector<std::string>& args, run_options options = {}) const {
        options.pack = true;
        return run(args, options);
    }
    run_result run_project(const std::vector<std::string>& args, run_options options = {}) const {
        options.project = true;
        return run(args, options);
    }

private:
    std::filesystem::path path_;
};

// An output name as the program forms it: drive_letter() + ':' + rest.
std::string out_name(const std::string& rest);

// An independent model of an 8-bit BMP file with a 256-entry colour table
// built from rgb15 entries: what the program must write, byte for byte.
bytes expected_bmp(int width, int height, const bytes& palette512, const bytes& pixels);

// Reads a little-endian field of a file.
std::uint32_t le32(const bytes& data, std::size_t offset);
std::uint16_t le16(const bytes& data, std::size_t offset);

}  // namespace torv::test
