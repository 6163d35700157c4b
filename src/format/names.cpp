#include "format/names.h"

#include <cstdio>

namespace torv {

namespace {

std::string_view stem_of(std::string_view argument) {
    return argument.substr(0, argument.find('.'));
}

}  // namespace

std::string derive_input_name(std::string_view argument) {
    std::string name(stem_of(argument));
    name += ".bin";
    return name;
}

std::string derive_base_name(std::string_view argument) {
    const std::string_view stem = stem_of(argument);
    const std::size_t slash = stem.rfind('\\');
    return std::string(slash == std::string_view::npos ? stem : stem.substr(slash + 1));
}

std::string name_prefix(std::string_view argument, std::string_view drive) {
    std::string prefix;
    if (!drive.empty()) {
        prefix += drive.front();
        prefix += ':';
    }
    prefix += derive_base_name(argument);
    return prefix;
}

std::string bmp_name(std::string_view prefix, std::int32_t suffix_code) {
    std::string name(prefix);
    if (suffix_code >= first_digit_suffix) {
        name += static_cast<char>('0' + (suffix_code - first_digit_suffix));
    } else if (suffix_code >= 0) {
        name += static_cast<char>('0' + suffix_code / 100);
        name += static_cast<char>('0' + suffix_code / 10 % 10);
        name += static_cast<char>('0' + suffix_code % 10);
    }
    name += ".bmp";
    return name;
}

std::string frame_bmp_name(std::string_view prefix, std::int32_t number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03ld", static_cast<long>(number));
    std::string name(prefix);
    name += digits;
    name += ".bmp";
    return name;
}

}  // namespace torv
