#include "torv_project/say.h"

#include <cstdio>

#include "cli/console.h"

namespace torv::project_cli {

namespace {

// A line as it may be printed: control characters in names never split it.
std::string printable(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

void print_line(const std::string& text) {
    cli::write_text(stdout, printable(text) + "\n");
}

void say(const std::string& text) {
    cli::write_text(stderr, "torv-project: " + printable(text) + "\n");
}

int fail_with(const std::string& text) {
    say(text);
    return exit_failure;
}

int fail_with(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        if (!line.empty())
            say(line);
    }
    return exit_failure;
}

int fail_with(const std::vector<libtorv::failure>& failures, const std::string& last) {
    for (const libtorv::failure& why : failures) {
        // A failure of several lines says each on its own.
        std::size_t from = 0;
        while (from <= why.words.size()) {
            const std::size_t to = std::min(why.words.find('\n', from), why.words.size());
            say(why.words.substr(from, to - from));
            from = to + 1;
        }
    }
    if (!last.empty())
        say(last);
    return exit_failure;
}

}  // namespace torv::project_cli
