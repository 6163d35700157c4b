// libtorv/patch.h on the codec layer's BPS.
#include "libtorv/patch.h"

#include "codec/bps.h"
#include "io/digest.h"

namespace libtorv {

bytes bps_patch(std::span<const std::uint8_t> source, std::span<const std::uint8_t> target, std::string_view metadata) {
    return torv::bps_encode(source, target, metadata);
}

result<patch_facts> facts_of_patch(std::span<const std::uint8_t> patch) {
    const result<torv::bps_facts> facts = torv::bps_facts_of(patch);
    if (!facts)
        return facts.error();
    return patch_facts{facts->source_size, facts->source_crc32, facts->target_size, facts->target_crc32,
                       facts->metadata};
}

patch_match match_of_patch(const patch_facts& facts, std::span<const std::uint8_t> file) {
    const std::uint64_t size = file.size();
    if (size != facts.source_size && size != facts.target_size) {
        return patch_match::other;  // no CRC32 needed
    }
    const std::uint32_t crc = torv::crc32_of(file);
    if (size == facts.source_size && crc == facts.source_crc32) {
        return patch_match::source;
    }
    return size == facts.target_size && crc == facts.target_crc32 ? patch_match::target : patch_match::other;
}

result<bytes> apply_patch(std::span<const std::uint8_t> patch, std::span<const std::uint8_t> source) {
    return torv::bps_apply(patch, source);
}

}  // namespace libtorv
