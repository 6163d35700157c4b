#include "cli/console.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

namespace torv::cli {

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
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

namespace {

constexpr char16_t replacement = 0xFFFD;
constexpr char32_t last_code_point = 0x10FFFF;
constexpr char32_t first_surrogate = 0xD800;
constexpr char32_t last_surrogate = 0xDFFF;

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The length of the sequence a lead byte begins, and the least code point
// that length may carry (shorter forms are overlong); 0 for no lead byte.
struct lead {
    std::size_t length;
    char32_t least;
    char32_t bits;
};

lead lead_of(unsigned char byte) {
    if (byte < 0x80)
        return {1, 0, byte};
    if ((byte & 0xE0) == 0xC0)
        return {2, 0x80, byte & 0x1Fu};
    if ((byte & 0xF0) == 0xE0)
        return {3, 0x800, byte & 0x0Fu};
    if ((byte & 0xF8) == 0xF0)
        return {4, 0x10000, byte & 0x07u};
    return {0, 0, 0};
}

void append(std::u16string& out, char32_t code_point) {
    if (code_point < 0x10000) {
        out += static_cast<char16_t>(code_point);
        return;
    }
    code_point -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (code_point >> 10));
    out += static_cast<char16_t>(0xDC00 + (code_point & 0x3FF));
}

}  // namespace

std::u16string utf16_of(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        const lead first = lead_of(static_cast<unsigned char>(utf8[at]));
        std::size_t taken = 1;
        char32_t code_point = first.bits;
        while (first.length > 0 && taken < first.length && at + taken < utf8.size() &&
               is_continuation(static_cast<unsigned char>(utf8[at + taken]))) {
            code_point = code_point << 6 | (static_cast<unsigned char>(utf8[at + taken]) & 0x3Fu);
            ++taken;
        }
        const bool whole = first.length > 0 && taken == first.length;
        const bool valid = whole && code_point >= first.least && code_point <= last_code_point &&
                           (code_point < first_surrogate || code_point > last_surrogate);
        if (valid) {
            append(out, code_point);
        } else {
            out += replacement;  // one for the lead byte and what it took
        }
        at += taken;
    }
    return out;
}

bool memory_to_start(std::size_t bytes) {
    void* probe = std::malloc(bytes);
    std::free(probe);
    return probe != nullptr;
}

void write_text(std::FILE* stream, std::string_view text) {
#ifdef _WIN32
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        std::fflush(stream);
        const std::u16string wide = utf16_of(text);
        const auto* units = reinterpret_cast<const wchar_t*>(wide.data());
        for (std::size_t done = 0; done < wide.size();) {
            DWORD written = 0;
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
            if (!WriteConsoleW(handle, units + done, chunk, &written, nullptr) || written == 0) {
                break;
            }
            done += written;
        }
        return;
    }
#endif
    std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace torv::cli
