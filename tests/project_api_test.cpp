// The project workflow as the library gives it, on a project held in
// memory: a build decodes what it packed and refuses a file that does not
// give the project's images back (here, an image changed while the build
// read it).
#include <gtest/gtest.h>

#include <map>

#include "libtorv/project.h"
#include "samples.h"

namespace libtorv {
namespace {

struct memory_project {
    std::map<std::string, bytes> files;  // by path within the project
    std::function<void(const std::string& path, bytes& contents)> on_read;
    std::map<std::string, int> reads;

    project_folder folder() {
        project_folder made;
        made.list = [this](const std::string& name) -> result<std::vector<folder_entry>> {
            std::vector<folder_entry> entries;
            for (const auto& [path, contents] : files) {
                if (path.starts_with(name + "/") && path.find('/', name.size() + 1) == std::string::npos) {
                    entries.push_back({path.substr(name.size() + 1), folder_entry::kind::file,
                                       static_cast<std::int64_t>(contents.size())});
                }
            }
            return entries;
        };
        made.read = [this](const std::string& path, std::uint64_t) -> result<bytes> {
            bytes contents = files.at(path);
            ++reads[path];
            if (on_read)
                on_read(path, contents);
            return contents;
        };
        return made;
    }
};

TEST(ProjectApi, AFileThatDoesNotDecodeToTheProjectsImagesIsRefused) {
    const bytes four = torv::samples::make_four_image_block();
    memory_project project;
    unpack_settings settings;
    settings.images = image_format::bmp;
    const result<project_source> source = unpack_to_project("four.bin", four, settings, [&](const project_file& file) {
        project.files["four/" + file.name] = file.contents;
        return result<>();
    });
    ASSERT_TRUE(source) << source.error().words;
    project_manifest manifest;
    manifest.sources = {*source};
    bytes& four2 = project.files.at("four/four2.bmp");
    bytes other = four2;
    for (std::size_t k = 0; k < 300; ++k) four2[1078 + 5000 + k] = four2[1078 + 10 + k % 5];
    for (std::size_t k = 0; k < 300; ++k) other[1078 + 9000 + k] = other[1078 + 10 + k % 5];

    const project_status status = status_of_project(manifest, project.folder());
    ASSERT_EQ(status.sources.size(), 1u);
    ASSERT_EQ(status.sources[0].changed, std::vector<std::size_t>{2});
    project.reads.clear();
    const result<built_source> built = build_from_project(*source, status.sources[0], four, project.folder(), {});
    ASSERT_TRUE(built) << built.error().words;
    const int reads = project.reads["four/four2.bmp"];
    ASSERT_GE(reads, 2) << "read to be packed, and again to be compared";

    // The last read, the comparison's, sees another image: refused.
    project.reads.clear();
    project.on_read = [&](const std::string& path, bytes& contents) {
        if (path == "four/four2.bmp" && project.reads[path] == reads)
            contents = other;
    };
    const result<built_source> refused = build_from_project(*source, status.sources[0], four, project.folder(), {});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, code::bad_image);
    EXPECT_EQ(refused.error().words,
              "four.bin: the file packed does not give four2.bmp back: pixel (6, 194) shows another colour");
}

}  // namespace
}  // namespace libtorv
