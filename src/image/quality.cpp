#include "image/quality.h"

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "image/oklab.h"

namespace torv {

namespace {

constexpr int window_radius = 5;  // 11 pixels
constexpr double window_sigma = 1.5;
constexpr double peak = 255.0;
constexpr double c1 = (0.01 * peak) * (0.01 * peak);
constexpr double c2 = (0.03 * peak) * (0.03 * peak);

double luma_of(rgb8 colour) {
    return 0.299 * colour.red + 0.587 * colour.green + 0.114 * colour.blue;
}

std::array<double, 2 * window_radius + 1> gaussian_window() {
    std::array<double, 2 * window_radius + 1> weights{};
    double sum = 0;
    for (int k = -window_radius; k <= window_radius; ++k) {
        const double w = std::exp(-(k * k) / (2 * window_sigma * window_sigma));
        weights[static_cast<std::size_t>(k + window_radius)] = w;
        sum += w;
    }
    for (double& w : weights) w /= sum;
    return weights;
}

// Each plane blurred by the window, rows then columns, where the whole
// window lies within the picture.
std::vector<double> blurred(const std::vector<double>& plane, std::int32_t width, std::int32_t height) {
    static const std::array<double, 2 * window_radius + 1> weights = gaussian_window();
    std::vector<double> across(plane.size(), 0.0);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = window_radius; x + window_radius < width; ++x) {
            double sum = 0;
            for (int k = -window_radius; k <= window_radius; ++k) {
                sum += weights[static_cast<std::size_t>(k + window_radius)] *
                       plane[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                             static_cast<std::size_t>(x + k)];
            }
            across[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] = sum;
        }
    }
    std::vector<double> down(plane.size(), 0.0);
    for (std::int32_t y = window_radius; y + window_radius < height; ++y) {
        for (std::int32_t x = window_radius; x + window_radius < width; ++x) {
            double sum = 0;
            for (int k = -window_radius; k <= window_radius; ++k) {
                sum += weights[static_cast<std::size_t>(k + window_radius)] *
                       across[static_cast<std::size_t>(y + k) * static_cast<std::size_t>(width) +
                              static_cast<std::size_t>(x)];
            }
            down[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] = sum;
        }
    }
    return down;
}

double ssim_of(std::span<const rgb8> given, std::span<const rgb8> shown, std::int32_t width, std::int32_t height) {
    if (width <= 2 * window_radius || height <= 2 * window_radius) {
        return given.size() == shown.size() && std::equal(given.begin(), given.end(), shown.begin()) ? 1.0 : 0.0;
    }
    const std::size_t count = given.size();
    std::vector<double> x(count), y(count), xx(count), yy(count), xy(count);
    for (std::size_t k = 0; k < count; ++k) {
        x[k] = luma_of(given[k]);
        y[k] = luma_of(shown[k]);
        xx[k] = x[k] * x[k];
        yy[k] = y[k] * y[k];
        xy[k] = x[k] * y[k];
    }
    const std::vector<double> mx = blurred(x, width, height), my = blurred(y, width, height);
    const std::vector<double> sxx = blurred(xx, width, height), syy = blurred(yy, width, height),
                              sxy = blurred(xy, width, height);
    double sum = 0;
    std::size_t counted = 0;
    for (std::int32_t row = window_radius; row + window_radius < height; ++row) {
        for (std::int32_t column = window_radius; column + window_radius < width; ++column) {
            const std::size_t k =
                static_cast<std::size_t>(row) * static_cast<std::size_t>(width) + static_cast<std::size_t>(column);
            const double vx = sxx[k] - mx[k] * mx[k], vy = syy[k] - my[k] * my[k], cov = sxy[k] - mx[k] * my[k];
            sum +=
                ((2 * mx[k] * my[k] + c1) * (2 * cov + c2)) / ((mx[k] * mx[k] + my[k] * my[k] + c1) * (vx + vy + c2));
            ++counted;
        }
    }
    return sum / static_cast<double>(counted);
}

}  // namespace

double psnr_of(std::span<const rgb8> given, std::span<const rgb8> shown) {
    double squared = 0;
    for (std::size_t k = 0; k < given.size(); ++k) {
        const double dr = given[k].red - shown[k].red, dg = given[k].green - shown[k].green,
                     db = given[k].blue - shown[k].blue;
        squared += dr * dr + dg * dg + db * db;
    }
    if (squared == 0) {
        return std::numeric_limits<double>::infinity();
    }
    const double mse = squared / (3.0 * static_cast<double>(given.size()));
    return 10.0 * std::log10(peak * peak / mse);
}

picture_quality quality_of(std::span<const rgb8> given, std::span<const rgb8> shown, std::int32_t width,
                           std::int32_t height) {
    picture_quality quality;
    quality.psnr = psnr_of(given, shown);
    quality.ssim = ssim_of(given, shown, width, height);
    double difference = 0;
    for (std::size_t k = 0; k < given.size(); ++k) {
        difference += std::sqrt(static_cast<double>(distance_squared(oklab_of(given[k]), oklab_of(shown[k]))));
    }
    quality.oklab_mean = given.empty() ? 0.0 : difference / static_cast<double>(given.size());
    return quality;
}

}  // namespace torv
