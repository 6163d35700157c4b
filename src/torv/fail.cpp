#include "torv/fail.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/console.h"

namespace torv {

void fail(std::string_view text) {
    cli::write_text(stdout, text);
    std::fflush(stdout);
    std::exit(EXIT_FAILURE);
}

namespace {

[[noreturn]] void fail_naming(std::string_view head, std::string_view name) {
    std::string line(head);
    line += '[';
    line += name;
    line += "]\n";
    fail(line);
}

}  // namespace

// The spelling of these heads is what users' scripts match on: keep it.
void fail_open(std::string_view name) {
    fail_naming("file open error.", name);
}
void fail_create(std::string_view name) {
    fail_naming("file create errror.", name);
}
void fail_write(std::string_view name) {
    fail_naming("file write error.", name);
}

}  // namespace torv
