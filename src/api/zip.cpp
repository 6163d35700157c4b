#include "libtorv/zip.h"

#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <limits>
#include <map>
#include <new>

#include "io/result.h"

namespace libtorv {

namespace {

constexpr std::uint32_t local_header_signature = 0x04034B50;
constexpr std::uint32_t directory_signature = 0x02014B50;
constexpr std::uint32_t end_signature = 0x06054B50;
constexpr std::uint32_t zip64_end_signature = 0x06064B50;
constexpr std::uint32_t zip64_locator_signature = 0x07064B50;
constexpr std::size_t zip64_end_size = 56;
constexpr std::size_t zip64_locator_size = 20;
constexpr std::uint16_t zip64_extra_id = 0x0001;
constexpr std::uint16_t zip64_offset_field_size = 12;  // id, size, then the 64-bit offset
constexpr std::uint16_t version_needed = 20;           // deflate
constexpr std::uint16_t version_needed_zip64 = 45;
constexpr std::uint16_t names_in_utf8 = 1 << 11;
constexpr std::uint16_t made_on_unix = 3 << 8 | 20;  // the system, then zip's version 2.0
constexpr std::uint16_t made_on_unix_zip64 = 3 << 8 | 45;
constexpr std::uint32_t plain_file_mode = 0100644;  // a file, readable by all, written by its owner
constexpr std::uint16_t method_stored = 0;
constexpr std::uint16_t method_deflated = 8;
constexpr int raw_deflate_window = -15;  // zip holds deflate data without zlib's wrapper

void put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

void put64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    put32(out, static_cast<std::uint32_t>(value));
    put32(out, static_cast<std::uint32_t>(value >> 32));
}

constexpr std::uint64_t largest_16 = std::numeric_limits<std::uint16_t>::max();
constexpr std::uint64_t largest_32 = std::numeric_limits<std::uint32_t>::max();

failure too_large(std::string words) {
    failure why;
    why.code = code::file_too_large;
    why.words = std::move(words);
    return why;
}

// The moment of packing in the MS-DOS form zip keeps: time, then date.
std::pair<std::uint16_t, std::uint16_t> dos_now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    const bool known = localtime_s(&local, &now) == 0;
#else
    const bool known = localtime_r(&now, &local) != nullptr;
#endif
    if (!known || local.tm_year < 80) {
        return {0, (1 << 5) | 1};  // 1980-01-01 00:00
    }
    const auto time = static_cast<std::uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    const auto date = static_cast<std::uint16_t>((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    return {time, date};
}

// Raw deflate data of `contents`, or nothing if it is no smaller.
std::vector<std::uint8_t> deflated(std::span<const std::uint8_t> contents) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, raw_deflate_window, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::bad_alloc();
    }
    std::vector<std::uint8_t> out(deflateBound(&stream, static_cast<uLong>(contents.size())));
    stream.next_in = const_cast<Bytef*>(contents.data());  // zlib only reads it
    stream.avail_in = static_cast<uInt>(contents.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END || out.size() >= contents.size()) {
        return {};
    }
    return out;
}

}  // namespace

result<> add_to_zip(zip_archive& zip, const std::string& name, std::span<const std::uint8_t> contents,
                    zip_storing how) {
    if (name.size() > std::numeric_limits<std::uint16_t>::max()) {
        return too_large("a name in a zip archive is shorter than 64 KiB");
    }
    if (contents.size() >= largest_32) {
        return too_large(name + " is 4 GiB or more, more than a file in a zip archive may be here");
    }
    const std::vector<std::uint8_t> packed =
        how == zip_storing::deflate ? deflated(contents) : std::vector<std::uint8_t>();
    const bool stored = packed.empty();
    const std::span<const std::uint8_t> data = stored ? contents : std::span<const std::uint8_t>(packed);
    const auto crc =
        static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0), contents.data(), static_cast<uInt>(contents.size())));
    const std::pair<std::uint16_t, std::uint16_t> moment = dos_now();
    const std::uint64_t offset = zip.taken + zip.bytes.size();
    const bool far = offset >= largest_32;  // its offset only in a zip64 field

    // The fields a local header and a directory entry share, from the
    // version needed to the name's length.
    auto put_common = [&](std::vector<std::uint8_t>& out) {
        put16(out, far ? version_needed_zip64 : version_needed);
        put16(out, names_in_utf8);
        put16(out, stored ? method_stored : method_deflated);
        put16(out, moment.first);
        put16(out, moment.second);
        put32(out, crc);
        put32(out, static_cast<std::uint32_t>(data.size()));
        put32(out, static_cast<std::uint32_t>(contents.size()));
        put16(out, static_cast<std::uint32_t>(name.size()));
    };
    put32(zip.bytes, local_header_signature);
    put_common(zip.bytes);
    put16(zip.bytes, 0);  // no extra field
    zip.bytes.insert(zip.bytes.end(), name.begin(), name.end());
    zip.bytes.insert(zip.bytes.end(), data.begin(), data.end());

    put32(zip.directory, directory_signature);
    put16(zip.directory, made_on_unix);  // so that unpackers take the names as UTF-8 and the modes below
    put_common(zip.directory);
    put16(zip.directory, far ? zip64_offset_field_size : 0);  // extra field
    put16(zip.directory, 0);                                  // comment
    put16(zip.directory, 0);                                  // disk
    put16(zip.directory, 0);                                  // internal attributes
    put32(zip.directory, plain_file_mode << 16);
    put32(zip.directory, static_cast<std::uint32_t>(far ? largest_32 : offset));
    zip.directory.insert(zip.directory.end(), name.begin(), name.end());
    if (far) {
        put16(zip.directory, zip64_extra_id);
        put16(zip.directory, 8);
        put64(zip.directory, offset);
    }
    ++zip.count;
    return {};
}

std::vector<std::uint8_t> take_zip_bytes(zip_archive& zip) {
    std::vector<std::uint8_t> out = std::move(zip.bytes);
    zip.bytes = {};
    zip.taken += out.size();
    return out;
}

std::vector<std::uint8_t> finish_zip(zip_archive& zip) {
    std::vector<std::uint8_t> out = std::move(zip.bytes);
    const std::uint64_t directory_offset = zip.taken + out.size();
    const std::uint64_t directory_size = zip.directory.size();
    out.insert(out.end(), zip.directory.begin(), zip.directory.end());
    const bool zip64 = zip.count >= largest_16 || directory_offset >= largest_32 || directory_size >= largest_32;
    if (zip64) {
        const std::uint64_t record_offset = directory_offset + directory_size;
        put32(out, zip64_end_signature);
        put64(out, zip64_end_size - 12);  // the record's size after this field
        put16(out, made_on_unix_zip64);
        put16(out, version_needed_zip64);
        put32(out, 0);  // this disk
        put32(out, 0);  // the directory's disk
        put64(out, zip.count);
        put64(out, zip.count);
        put64(out, directory_size);
        put64(out, directory_offset);
        put32(out, zip64_locator_signature);
        put32(out, 0);  // the disk of the record
        put64(out, record_offset);
        put32(out, 1);  // disks
    }
    put32(out, end_signature);
    put16(out, 0);  // this disk
    put16(out, 0);  // the directory's disk
    put16(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(zip.count, largest_16)));
    put16(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(zip.count, largest_16)));
    put32(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(directory_size, largest_32)));
    put32(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(directory_offset, largest_32)));
    put16(out, 0);  // no comment
    zip = {};
    return out;
}

namespace {

std::uint32_t get16(std::span<const std::uint8_t> data, std::size_t at) {
    return static_cast<std::uint32_t>(data[at] | data[at + 1] << 8);
}

std::uint32_t get32(std::span<const std::uint8_t> data, std::size_t at) {
    return get16(data, at) | get16(data, at + 2) << 16;
}

failure damaged(const std::string& words) {
    return torv::failure_of(code::bad_image, "the zip archive is damaged: " + words);
}

constexpr std::size_t end_size = 22;
constexpr std::uint64_t most_deflate_ratio = 1032;
constexpr std::uint64_t deflate_slack = 16;  // a block's header and end
constexpr std::size_t directory_entry_size = 46;
constexpr std::size_t local_header_size = 30;

// The deflated `packed` inflated to exactly `size` bytes.
result<std::vector<std::uint8_t>> inflated(std::span<const std::uint8_t> packed, std::size_t size,
                                           const std::string& name) {
    z_stream stream{};
    if (inflateInit2(&stream, raw_deflate_window) != Z_OK) {
        throw std::bad_alloc();
    }
    std::vector<std::uint8_t> out(size);
    stream.next_in = const_cast<Bytef*>(packed.data());  // zlib only reads it
    stream.avail_in = static_cast<uInt>(packed.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&stream, Z_FINISH);
    const bool whole = status == Z_STREAM_END && stream.total_out == size;
    inflateEnd(&stream);
    if (!whole) {
        return damaged(name + " does not inflate to its size");
    }
    return out;
}

}  // namespace

namespace {

std::uint64_t get64(std::span<const std::uint8_t> data, std::size_t at) {
    return get32(data, at) | std::uint64_t{get32(data, at + 4)} << 32;
}

// Whether `length` bytes from `at` lie within `archive`.
bool within(std::span<const std::uint8_t> archive, std::uint64_t at, std::uint64_t length) {
    return at <= archive.size() && archive.size() - at >= length;
}

// Where the central directory lies and how many entries it has, from the
// end record (at `end`) and, for a zip64 archive, the record its locator
// points at.
struct directory_place {
    std::uint64_t count = 0;
    std::uint64_t offset = 0;
};

result<directory_place> place_of_directory(std::span<const std::uint8_t> archive, std::size_t end) {
    directory_place place{get16(archive, end + 10), get32(archive, end + 16)};
    if (end < zip64_locator_size || get32(archive, end - zip64_locator_size) != zip64_locator_signature) {
        return place;
    }
    const std::uint64_t record = get64(archive, end - zip64_locator_size + 8);
    if (!within(archive, record, zip64_end_size) ||
        get32(archive, static_cast<std::size_t>(record)) != zip64_end_signature) {
        return damaged("its zip64 end record is missing");
    }
    place.count = get64(archive, static_cast<std::size_t>(record) + 32);
    place.offset = get64(archive, static_cast<std::size_t>(record) + 48);
    return place;
}

// What a method or flags the reader does not take are, and what to do
// about them.
std::string unreadable_packing(const std::string& name, std::uint32_t flags, std::uint32_t method) {
    constexpr std::uint32_t encrypted = 1;
    constexpr std::uint32_t method_aes = 99;
    if ((flags & encrypted) != 0 || method == method_aes) {
        return name + " is encrypted: zip it again without a password";
    }
    const std::map<std::uint32_t, std::string> methods = {
        {1, "Shrink"}, {6, "Implode"},    {9, "Deflate64"}, {12, "bzip2"},
        {14, "LZMA"},  {93, "Zstandard"}, {95, "xz"},       {98, "PPMd"},
    };
    const auto known = methods.find(method);
    const std::string way = known != methods.end() ? known->second : "method " + std::to_string(method);
    return name + " is packed with " + way +
           ", which torv does not read: zip it again with Deflate (\"Normal\" or \"Deflate\" in a zip program)";
}

// The 64-bit sizes and offset of an entry whose 32-bit fields hold
// 0xFFFFFFFF, from its zip64 extra field: those fields, in that order.
bool read_zip64_fields(std::span<const std::uint8_t> extra, std::uint64_t& size, std::uint64_t& packed_size,
                       std::uint64_t& local) {
    std::size_t at = 0;
    while (extra.size() - at >= 4) {
        const std::uint32_t id = get16(extra, at);
        const std::size_t length = get16(extra, at + 2);
        at += 4;
        if (extra.size() - at < length) {
            return false;
        }
        if (id == zip64_extra_id) {
            const std::span<const std::uint8_t> field = extra.subspan(at, length);
            std::size_t next = 0;
            for (std::uint64_t* value : {&size, &packed_size, &local}) {
                if (*value != largest_32) {
                    continue;
                }
                if (field.size() - next < 8) {
                    return false;
                }
                *value = get64(field, next);
                next += 8;
            }
            return true;
        }
        at += length;
    }
    return size != largest_32 && packed_size != largest_32 && local != largest_32;
}

}  // namespace

result<std::vector<zip_item>> list_zip(std::span<const std::uint8_t> archive, std::uint64_t max_file_bytes) {
    // The end record, searched from the end past a comment of up to 64 KiB.
    const failure no_zip = torv::failure_of(code::not_an_image, "it is no zip archive");
    if (archive.size() < end_size) {
        return no_zip;
    }
    std::size_t end = archive.size() - end_size;
    const std::size_t lowest = end > 0xFFFF ? end - 0xFFFF : 0;
    while (get32(archive, end) != end_signature) {
        if (end == lowest) {
            return no_zip;
        }
        --end;
    }
    const result<directory_place> place = place_of_directory(archive, end);
    if (!place) {
        return place.error();
    }
    std::uint64_t at = place->offset;
    std::vector<zip_item> items;
    for (std::uint64_t k = 0; k < place->count; ++k) {
        if (!within(archive, at, directory_entry_size) ||
            get32(archive, static_cast<std::size_t>(at)) != directory_signature) {
            return damaged("its directory ends early");
        }
        const std::span<const std::uint8_t> entry = archive.subspan(static_cast<std::size_t>(at));
        const std::uint32_t flags = get16(entry, 8);
        const std::uint32_t method = get16(entry, 10);
        zip_item item;
        item.crc32 = get32(entry, 16);
        std::uint64_t packed_size = get32(entry, 20);
        item.size = get32(entry, 24);
        const std::size_t name_size = get16(entry, 28);
        const std::size_t extra_size = get16(entry, 30);
        const std::size_t skipped = name_size + extra_size + get16(entry, 32);
        std::uint64_t local = get32(entry, 42);
        if (entry.size() - directory_entry_size < skipped) {
            return damaged("its directory ends early");
        }
        item.name.assign(reinterpret_cast<const char*>(entry.data() + directory_entry_size), name_size);
        std::replace(item.name.begin(), item.name.end(), '\\', '/');
        at += directory_entry_size + skipped;
        if (item.name.ends_with("/")) {
            continue;  // a folder
        }
        if (!read_zip64_fields(entry.subspan(directory_entry_size + name_size, extra_size), item.size, packed_size,
                               local)) {
            return damaged(item.name + "'s zip64 sizes are missing");
        }
        if ((flags & 1) != 0 || (method != method_stored && method != method_deflated)) {
            return torv::failure_of(code::unsupported_image, unreadable_packing(item.name, flags, method));
        }
        item.deflated = method == method_deflated;
        if (item.size > max_file_bytes) {
            return too_large(item.name + " is " + std::to_string(item.size) + " bytes, more than a file here may have");
        }
        if (!within(archive, local, local_header_size) ||
            get32(archive, static_cast<std::size_t>(local)) != local_header_signature) {
            return damaged(item.name + "'s header is missing");
        }
        const auto local_at = static_cast<std::size_t>(local);
        const std::uint64_t data_at =
            local + local_header_size + get16(archive, local_at + 26) + get16(archive, local_at + 28);
        if (!within(archive, data_at, packed_size)) {
            return damaged(item.name + " ends early");
        }
        item.data_at = static_cast<std::size_t>(data_at);
        item.packed_size = static_cast<std::size_t>(packed_size);
        if (!item.deflated && item.packed_size != item.size) {
            return damaged(item.name + "'s sizes disagree");
        }
        // Deflate makes at most 1032 bytes of each it holds (a 258-byte
        // copy in two bits): a size beyond that is a lie, refused before
        // memory is set aside for it.
        if (item.deflated && item.size / most_deflate_ratio > item.packed_size + deflate_slack) {
            return damaged(item.name + " says it unpacks to " + std::to_string(item.size) + " bytes from " +
                           std::to_string(item.packed_size) + ", more than deflate can make");
        }
        items.push_back(std::move(item));
    }
    return items;
}

result<std::vector<std::uint8_t>> unzip_item(std::span<const std::uint8_t> archive, const zip_item& item) {
    if (item.data_at > archive.size() || archive.size() - item.data_at < item.packed_size) {
        return damaged(item.name + " ends early");
    }
    const std::span<const std::uint8_t> packed = archive.subspan(item.data_at, item.packed_size);
    std::vector<std::uint8_t> contents;
    if (item.deflated) {
        result<std::vector<std::uint8_t>> made = inflated(packed, static_cast<std::size_t>(item.size), item.name);
        if (!made) {
            return std::move(made).error();
        }
        contents = std::move(*made);
    } else {
        contents.assign(packed.begin(), packed.end());
    }
    if (crc32(0, contents.data(), static_cast<uInt>(contents.size())) != item.crc32) {
        return damaged(item.name + " is not what it was (its CRC32 differs)");
    }
    return contents;
}

result<std::vector<zip_entry>> read_zip(std::span<const std::uint8_t> archive, std::uint64_t max_file_bytes) {
    result<std::vector<zip_item>> items = list_zip(archive, max_file_bytes);
    if (!items) {
        return std::move(items).error();
    }
    std::vector<zip_entry> entries;
    for (const zip_item& item : *items) {
        result<std::vector<std::uint8_t>> contents = unzip_item(archive, item);
        if (!contents) {
            return std::move(contents).error();
        }
        entries.push_back({item.name, std::move(*contents)});
    }
    return entries;
}

std::string unsafe_path_reason(std::string_view name) {
    if (name.empty()) {
        return "it has no name";
    }
    if (name.front() == '/' || (name.size() >= 2 && name[1] == ':')) {
        return "it is an absolute path";
    }
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return "it holds a control character";
        }
    }
    std::size_t from = 0;
    while (from <= name.size()) {
        const std::size_t to = std::min(name.find('/', from), name.size());
        const std::string_view part = name.substr(from, to - from);
        if (part == "..") {
            return "it leads out of its folder (\"..\")";
        }
        if (part.empty() || part == ".") {
            return "it has an empty part or a \".\"";
        }
        from = to + 1;
    }
    return {};
}

}  // namespace libtorv
