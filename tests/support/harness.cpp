#include "harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace torv::test {

namespace fs = std::filesystem;

namespace {

std::string env_or(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::string program_path(const run_options& options) {
    if (options.project) {
        return env_or("TORV_PROJECT_EXE", TORV_DEFAULT_PROJECT_EXE);
    }
    return options.pack ? env_or("TORV_PACK_EXE", TORV_DEFAULT_PACK_EXE) : env_or("TORV_EXE", TORV_DEFAULT_EXE);
}

// Lines end in CR LF on Windows, where standard output and error are text.
std::string without_carriage_returns(const std::string& text) {
    std::string lines;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (!(text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n')) {
            lines += text[k];
        }
    }
    return lines;
}

std::string wine_command() {
    return env_or("TORV_WINE", "");
}

void put32(bytes& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

void put16(bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

}  // namespace

bool under_wine() {
    return !wine_command().empty();
}

bool memory_is_measurable() {
#ifdef TORV_SANITIZED
    return false;
#else
    return !under_wine();
#endif
}

namespace {

// The processes started by `pid`, and theirs (the program runs under a
// launcher).
std::vector<int> with_descendants(int pid) {
    std::vector<int> found{pid};
    for (std::size_t k = 0; k < found.size(); ++k) {
        std::error_code failed;
        const std::filesystem::path tasks = "/proc/" + std::to_string(found[k]) + "/task";
        for (std::filesystem::directory_iterator task(tasks, failed), end; !failed && task != end;
             task.increment(failed)) {
            std::ifstream children(task->path() / "children");
            for (int child = 0; children >> child;) found.push_back(child);
        }
    }
    return found;
}

}  // namespace

bool writes_unnamed_file(int pid) {
    if (under_wine()) {
        return false;
    }
    for (const int process : with_descendants(pid)) {
        std::error_code failed;
        const std::filesystem::path handles = "/proc/" + std::to_string(process) + "/fd";
        for (std::filesystem::directory_iterator entry(handles, failed), end; !failed && entry != end;
             entry.increment(failed)) {
            std::error_code unreadable;
            const std::string target = std::filesystem::read_symlink(entry->path(), unreadable).string();
            if (!unreadable && target.find("/#") != std::string::npos && target.ends_with(" (deleted)")) {
                return true;
            }
        }
    }
    return false;
}

std::string drive_letter() {
    return under_wine() ? "z" : "e";
}

std::string out_name(const std::string& rest) {
    return drive_letter() + ":" + rest;
}

scratch_dir::scratch_dir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    path_ = fs::temp_directory_path() / ("torv-test-" + std::to_string(random()));
    fs::create_directories(path_);
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

fs::path scratch_dir::host_path(const std::string& name) const {
    if (!under_wine()) {
        return path_ / name;
    }
    std::string host = name;
    if (host.size() >= 2 && host[1] == ':') {
        host.erase(0, 2);  // the drive's current folder is ours
    }
    std::replace(host.begin(), host.end(), '\\', '/');
    return path_ / fs::path(host).relative_path();
}

void scratch_dir::write(const std::string& name, const bytes& data) const {
    const fs::path target = host_path(name);
    fs::create_directories(target.parent_path());
    std::ofstream file(target, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + target.string());
    }
}

bytes scratch_dir::read(const std::string& name) const {
    std::ifstream file(host_path(name), std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool scratch_dir::exists(const std::string& name) const {
    return fs::exists(host_path(name));
}

std::vector<std::string> scratch_dir::files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(path_)) {
        if (entry.is_regular_file()) {
            names.push_back(fs::relative(entry.path(), path_).generic_string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

run_result scratch_dir::run(const std::vector<std::string>& args, const run_options& options) const {
    // The program starts from a small launcher that reports its peak memory.
    // Runs may go on side by side: each has files of its own.
    static std::atomic<unsigned> runs{0};
    const std::string tag = path_.filename().string() + "-" + std::to_string(runs++);
    const fs::path report = path_.parent_path() / (tag + ".rss");
    const fs::path errors = path_.parent_path() / (tag + ".err");
    std::vector<std::string> command{TORV_PEAK_RSS_EXE, report.string()};
    if (under_wine()) {
        command.push_back(wine_command());
    }
    command.push_back(program_path(options));
    command.insert(command.end(), args.begin(), args.end());

    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipe_ends[1], STDOUT_FILENO);
        const int error_file = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (error_file >= 0) {
            dup2(error_file, STDERR_FILENO);
            close(error_file);
        }
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        if (chdir(path_.c_str()) != 0) {
            _exit(127);
        }
        if (options.file_size_limit != 0) {
            // The programs ignore SIGXFSZ themselves, so that a write past the
            // limit fails; under Wine the emulator must be told.
            if (under_wine()) {
                signal(SIGXFSZ, SIG_IGN);
            }
            const rlimit limit{options.file_size_limit, options.file_size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.memory_limit != 0) {
            const rlimit limit{options.memory_limit, options.memory_limit};
            setrlimit(RLIMIT_AS, &limit);
        }
        std::vector<char*> argv;
        for (std::string& word : command) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    if (options.while_running) {
        options.while_running(child);
    }
    run_result result;
    char chunk[4096];
    ssize_t got = 0;
    while ((got = ::read(pipe_ends[0], chunk, sizeof chunk)) > 0) {
        result.output.append(chunk, static_cast<std::size_t>(got));
    }
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream(report) >> result.peak_rss_kib;
    {
        std::ifstream error_text(errors, std::ios::binary);
        result.errors.assign(std::istreambuf_iterator<char>(error_text), std::istreambuf_iterator<char>());
    }
    if (under_wine()) {
        result.output = without_carriage_returns(result.output);
        result.errors = without_carriage_returns(result.errors);
    }
    fs::remove(report);
    fs::remove(errors);
    return result;
}

bytes expected_bmp(int width, int height, const bytes& palette512, const bytes& pixels) {
    const auto pixel_bytes = static_cast<std::uint32_t>(width * height);
    bytes out{'B', 'M'};
    put32(out, 1078 + pixel_bytes);
    put32(out, 0);
    put32(out, 1078);
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(width));
    put32(out, static_cast<std::uint32_t>(height));
    put16(out, 1);
    put16(out, 8);
    for (std::uint32_t field : {0u, 0u, 0u, 0u, 256u, 0u}) {
        put32(out, field);
    }
    for (std::size_t k = 0; k < 256; ++k) {
        const unsigned entry = palette512[2 * k] + 256u * palette512[2 * k + 1];
        const unsigned red = entry % 32;
        const unsigned green = entry / 32 % 32;
        const unsigned blue = entry / 1024 % 32;
        out.insert(out.end(), {static_cast<std::uint8_t>(blue * 8), static_cast<std::uint8_t>(green * 8),
                               static_cast<std::uint8_t>(red * 8), 0});
    }
    for (int row = height - 1; row >= 0; --row) {
        const auto begin = pixels.begin() + static_cast<std::ptrdiff_t>(row) * width;
        out.insert(out.end(), begin, begin + width);
    }
    return out;
}

std::uint32_t le32(const bytes& data, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t k = 4; k-- > 0;) {
        value = value << 8 | data.at(offset + k);
    }
    return value;
}

std::uint16_t le16(const bytes& data, std::size_t offset) {
    return static_cast<std::uint16_t>(data.at(offset) | data.at(offset + 1) << 8);
}

}  // namespace torv::test
