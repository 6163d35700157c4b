#include "image/gif_write.h"

#include <new>

#ifdef TORV_HAVE_GIF
#include <gif_lib.h>
#endif

namespace torv {

std::uint16_t gif_delay(std::size_t k, unsigned per_second) {
    constexpr std::uint64_t hundredths = 100;
    const std::uint64_t rate = per_second == 0 ? 1 : per_second;
    auto at = [&](std::uint64_t frame) { return (frame * hundredths + rate / 2) / rate; };
    return static_cast<std::uint16_t>(at(k + 1) - at(k));
}

#ifndef TORV_HAVE_GIF

struct gif_file {};
gif_animation::gif_animation() = default;
gif_animation::~gif_animation() = default;

result<> begin_gif(gif_animation&, std::int32_t, std::int32_t, std::function<void(std::span<const std::uint8_t>)>) {
    return failure_of(code::unsupported_image, "this build writes no GIF files");
}
result<> add_gif_frame(gif_animation&, const indexed_image&, const rgb15_palette&, std::uint16_t) {
    return failure_of(code::unsupported_image, "this build writes no GIF files");
}
result<> end_gif(gif_animation&) {
    return failure_of(code::unsupported_image, "this build writes no GIF files");
}

#else

namespace {

constexpr int colour_bits = 8;  // 256 entries
constexpr int loop_for_ever = 0;
constexpr std::uint8_t application_block[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};

// giflib is C: nothing may be thrown through it. Memory that runs out is
// kept and thrown once giflib has returned.
int write_out(GifFileType* file, const GifByteType* data, int count) {
    auto* gif = static_cast<gif_animation*>(file->UserData);
    try {
        gif->out({data, static_cast<std::size_t>(count)});
    } catch (const std::bad_alloc&) {
        gif->out_of_memory = true;
        return 0;
    }
    return count;
}

failure gif_failure(const gif_animation& gif, int error) {
    if (error == E_GIF_ERR_NOT_ENOUGH_MEM || gif.out_of_memory) {
        throw std::bad_alloc();
    }
    const char* words = GifErrorString(error);
    return failure_of(code::cannot_write, std::string("GIF: ") + (words ? words : "failed"));
}

}  // namespace

struct gif_file {
    GifFileType* gif = nullptr;
};

gif_animation::gif_animation() = default;

gif_animation::~gif_animation() {
    if (file && file->gif) {
        int ignored = 0;
        EGifCloseFile(file->gif, &ignored);
    }
}

result<> begin_gif(gif_animation& gif, std::int32_t width, std::int32_t height,
                   std::function<void(std::span<const std::uint8_t>)> out) {
    gif.out = std::move(out);
    gif.file = std::make_unique<gif_file>();
    int error = 0;
    gif.file->gif = EGifOpen(&gif, write_out, &error);
    if (gif.file->gif == nullptr) {
        return gif_failure(gif, error);
    }
    GifFileType* file = gif.file->gif;
    EGifSetGifVersion(file, true);
    const std::uint8_t loop[] = {1, loop_for_ever & 0xFF, loop_for_ever >> 8};
    if (EGifPutScreenDesc(file, width, height, colour_bits, 0, nullptr) == GIF_ERROR ||
        EGifPutExtensionLeader(file, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
        EGifPutExtensionBlock(file, sizeof application_block, application_block) == GIF_ERROR ||
        EGifPutExtensionBlock(file, sizeof loop, loop) == GIF_ERROR || EGifPutExtensionTrailer(file) == GIF_ERROR) {
        return gif_failure(gif, file->Error);
    }
    return {};
}

result<> add_gif_frame(gif_animation& gif, const indexed_image& image, const rgb15_palette& palette,
                       std::uint16_t delay) {
    GifFileType* file = gif.file->gif;
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_DO_NOT;
    control.DelayTime = delay;
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType extension[4];
    const auto length = static_cast<int>(EGifGCBToExtension(&control, extension));
    GifColorType colours[palette_entries];
    for (std::size_t k = 0; k < palette_entries; ++k) {
        const rgb8 c = rgb8_of(palette[k]);
        colours[k] = {c.red, c.green, c.blue};
    }
    ColorMapObject* map = GifMakeMapObject(static_cast<int>(palette_entries), colours);
    if (map == nullptr) {
        throw std::bad_alloc();
    }
    const bool described = EGifPutExtension(file, GRAPHICS_EXT_FUNC_CODE, length, extension) != GIF_ERROR &&
                           EGifPutImageDesc(file, 0, 0, image.width, image.height, false, map) != GIF_ERROR;
    GifFreeMapObject(map);
    if (!described) {
        return gif_failure(gif, file->Error);
    }
    const auto width = static_cast<std::size_t>(image.width);
    for (std::int32_t y = 0; y < image.height; ++y) {
        // giflib takes a row it does not change through a pointer that is not const.
        auto* row = const_cast<GifPixelType*>(image.pixels.data() + static_cast<std::size_t>(y) * width);
        if (EGifPutLine(file, row, image.width) == GIF_ERROR) {
            return gif_failure(gif, file->Error);
        }
    }
    return {};
}

result<> end_gif(gif_animation& gif) {
    int error = 0;
    GifFileType* file = gif.file->gif;
    gif.file->gif = nullptr;
    if (EGifCloseFile(file, &error) == GIF_ERROR) {
        return gif_failure(gif, error);
    }
    return {};
}

#endif

}  // namespace torv
