// A manifest of any bytes: read_manifest gives a manifest or a refusal and
// never throws; what it gives is a manifest whose paths stay within their
// folders, and written again, it reads back the same.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "libtorv/manifest.h"

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "manifest_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    libtorv::result<libtorv::project_manifest> read = [&] {
        try {
            return libtorv::read_manifest(text);
        } catch (...) {
            finding("read_manifest threw");
        }
    }();
    if (!read) {
        if (read.error().words.empty())
            finding("a refusal without words");
        return 0;
    }
    for (const libtorv::project_source& source : read->sources) {
        if (!libtorv::is_path_within(source.path) || !libtorv::is_path_within(source.folder))
            finding("a path that leaves its folder");
    }
    const std::string again = libtorv::manifest_json(*read);
    const libtorv::result<libtorv::project_manifest> reread = libtorv::read_manifest(again);
    if (!reread || libtorv::manifest_json(*reread) != again)
        finding("a manifest written again does not read back the same");
    return 0;
}
