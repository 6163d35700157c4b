#include "io/output.h"

#include <cstdio>
#include <vector>

#include "io/fail.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#endif

namespace torv {

namespace {

#ifdef _WIN32

[[noreturn]] void abandon_file(std::FILE* file, const std::string& name) {
    if (file != nullptr) {
        std::fclose(file);
    }
    std::remove(name.c_str());
    fail_write(name);
}

// The parts are laid out one after the other in memory and leave in one
// write: one system call per file on an unbuffered stream.
void write_parts(const std::string& name, std::span<const std::span<const std::uint8_t>> parts) {
    std::vector<std::uint8_t> image;
    for (const auto part : parts) {
        image.insert(image.end(), part.begin(), part.end());
    }

    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr) {
        fail_create(name);
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    if (std::fwrite(image.data(), 1, image.size(), file) != image.size()) {
        abandon_file(file, name);
    }
    if (std::fclose(file) != 0) {
        abandon_file(nullptr, name);
    }
}

#else

// Writes all the parts, however the system splits the writing; false on an
// error.
bool write_gathered(int fd, iovec* parts, int count) {
    while (count > 0) {
        const ssize_t written = writev(fd, parts, std::min(count, IOV_MAX));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        auto left = static_cast<std::size_t>(written);
        while (count > 0 && left >= parts->iov_len) {
            left -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<std::uint8_t*>(parts->iov_base) + left;
            parts->iov_len -= left;
        }
    }
    return true;
}

[[noreturn]] void abandon_file(int fd, const std::string& name) {
    if (fd >= 0) {
        close(fd);
    }
    unlink(name.c_str());
    fail_write(name);
}

// The parts leave in one gathered write, straight from where they lie: one
// system call per file and no copy.
void write_parts(const std::string& name, std::span<const std::span<const std::uint8_t>> parts) {
    std::vector<iovec> vectors;
    vectors.reserve(parts.size());
    for (const auto part : parts) {
        vectors.push_back({const_cast<std::uint8_t*>(part.data()), part.size()});
    }

    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        fail_create(name);
    }
    if (!write_gathered(fd, vectors.data(), static_cast<int>(vectors.size()))) {
        abandon_file(fd, name);
    }
    if (close(fd) != 0) {
        abandon_file(-1, name);
    }
}

#endif

}  // namespace

void write_output_file(const std::string& name, std::span<const std::span<const std::uint8_t>> parts) {
    write_parts(name, parts);
}

}  // namespace torv
