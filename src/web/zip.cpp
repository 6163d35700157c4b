#include "web/zip.h"

#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <limits>
#include <new>

namespace torv::web {

namespace {

constexpr std::uint32_t local_header_signature = 0x04034B50;
constexpr std::uint32_t directory_signature = 0x02014B50;
constexpr std::uint32_t end_signature = 0x06054B50;
constexpr std::uint16_t version_needed = 20;  // deflate
constexpr std::uint16_t names_in_utf8 = 1 << 11;
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

constexpr std::size_t largest_32 = std::numeric_limits<std::uint32_t>::max();

libtorv::failure too_large(std::string words) {
    libtorv::failure why;
    why.code = libtorv::code::file_too_large;
    why.words = std::move(words);
    return why;
}

// The moment of packing in the MS-DOS form zip keeps: time, then date.
std::pair<std::uint16_t, std::uint16_t> dos_now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr || local.tm_year < 80) {
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

libtorv::result<> add_to_zip(zip_archive& zip, const std::string& name, std::span<const std::uint8_t> contents) {
    if (zip.count == std::numeric_limits<std::uint16_t>::max()) {
        return too_large("a zip archive without zip64 holds fewer than 65535 files");
    }
    if (name.size() > std::numeric_limits<std::uint16_t>::max()) {
        return too_large("a name in a zip archive is shorter than 64 KiB");
    }
    // Every offset and size, and the archive's own, must be 32-bit numbers;
    // the directory and its end take what a name and 64 bytes more need.
    const std::size_t room_left = largest_32 - std::min(largest_32, zip.bytes.size() + zip.directory.size());
    if (contents.size() + 2 * name.size() + 256 > room_left) {
        return too_large("a zip archive without zip64 holds less than 4 GiB");
    }
    const std::vector<std::uint8_t> packed = deflated(contents);
    const bool stored = packed.empty();
    const std::span<const std::uint8_t> data = stored ? contents : std::span<const std::uint8_t>(packed);
    const auto crc =
        static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0), contents.data(), static_cast<uInt>(contents.size())));
    const std::pair<std::uint16_t, std::uint16_t> moment = dos_now();
    const auto offset = static_cast<std::uint32_t>(zip.bytes.size());

    // The fields a local header and a directory entry share, from the
    // version needed to the name's length.
    auto put_common = [&](std::vector<std::uint8_t>& out) {
        put16(out, version_needed);
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
    put16(zip.directory, version_needed);  // made by: MS-DOS attributes, version 2.0
    put_common(zip.directory);
    put16(zip.directory, 0);  // extra field
    put16(zip.directory, 0);  // comment
    put16(zip.directory, 0);  // disk
    put16(zip.directory, 0);  // internal attributes
    put32(zip.directory, 0);  // external attributes
    put32(zip.directory, offset);
    zip.directory.insert(zip.directory.end(), name.begin(), name.end());
    ++zip.count;
    return {};
}

std::vector<std::uint8_t> finish_zip(zip_archive& zip) {
    std::vector<std::uint8_t> out = std::move(zip.bytes);
    const auto directory_offset = static_cast<std::uint32_t>(out.size());
    out.insert(out.end(), zip.directory.begin(), zip.directory.end());
    put32(out, end_signature);
    put16(out, 0);  // this disk
    put16(out, 0);  // the directory's disk
    put16(out, zip.count);
    put16(out, zip.count);
    put32(out, static_cast<std::uint32_t>(zip.directory.size()));
    put32(out, directory_offset);
    put16(out, 0);  // no comment
    zip = {};
    return out;
}

}  // namespace torv::web
