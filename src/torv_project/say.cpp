#include "torv_project/say.h"

#include <cstdio>

#include "cli/console.h"

namespace torv::project_cli {

void print_line(const std::string& text) {
    cli::write_text(stdout, cli::printable(text) + "\n");
}

void say(const std::string& text) {
    cli::write_text(stderr, "torv-project: " + cli::printable(text) + "\n");
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
