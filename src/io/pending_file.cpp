#include "io/pending_file.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace torv {

namespace {

std::string describe_errno() {
    return std::strerror(errno);
}

int process_id() {
#ifdef _WIN32
    return static_cast<int>(GetCurrentProcessId());
#else
    return static_cast<int>(getpid());
#endif
}

bool put_in_place(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

pending_file::~pending_file() {
    if (file != nullptr) {
        std::fclose(file);
    }
    if (!temp_name.empty()) {
        std::remove(temp_name.c_str());
    }
}

std::string begin_pending(pending_file& pending, const std::string& final_name) {
    pending.final_name = final_name;
    // Beside the final name, so that putting it in place is a rename within
    // one folder.
    pending.temp_name = final_name + ".tmp" + std::to_string(process_id());
    pending.file = std::fopen(pending.temp_name.c_str(), "wb");
    if (pending.file == nullptr) {
        const std::string reason = describe_errno();
        pending.temp_name.clear();
        return "cannot create " + final_name + ": " + reason;
    }
    return {};
}

void write_pending(pending_file& pending, std::span<const std::uint8_t> bytes) {
    if (pending.file != nullptr && !pending.failed && !bytes.empty() &&
        std::fwrite(bytes.data(), 1, bytes.size(), pending.file) != bytes.size()) {
        pending.failed = true;
    }
}

std::string finish_pending(pending_file& pending) {
    const bool closed = pending.file != nullptr && std::fclose(pending.file) == 0;
    pending.file = nullptr;
    if (pending.failed || !closed) {
        return "cannot write " + pending.final_name + ": " + describe_errno();
    }
    if (!put_in_place(pending.temp_name, pending.final_name)) {
        return "cannot put " + pending.final_name + " in place: " + describe_errno();
    }
    pending.temp_name.clear();
    return {};
}

}  // namespace torv
