#include "driver/names.h"

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

std::string build_name_prefix(std::string_view argument, std::string_view drive) {
    std::string prefix;
    if (!drive.empty()) {
        prefix += drive.front();
        prefix += ':';
    }
    prefix += derive_base_name(argument);
    return prefix;
}

}  // namespace torv
