#pragma once

#include <filesystem>
#include <string_view>

namespace vexcomm::cli {

// Renders an SVG document into a PNG of `width` × `height` pixels with librsvg, the SVG renderer
// Debian's desktops use: the chart is drawn once, as SVG, and only rasterised here.
void WriteSvgAsPng(std::string_view svg, int width, int height, const std::filesystem::path& file);

}  // namespace vexcomm::cli
