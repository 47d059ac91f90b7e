#include "png_chart.h"

#include <cairo.h>
#include <librsvg/rsvg.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace vexcomm::cli {
namespace {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct SurfaceDestroy {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoDestroy {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

[[noreturn]] void Fail(GError* error) {
  const std::string text = error != nullptr ? error->message : "invalid SVG";
  if (error != nullptr) g_error_free(error);
  throw std::runtime_error("cannot draw the chart as PNG: " + text);
}

}  // namespace

void WriteSvgAsPng(std::string_view svg, int width, int height, const std::filesystem::path& file) {
  GError* error = nullptr;
  std::unique_ptr<RsvgHandle, GObjectUnref> handle(
      rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error));
  if (!handle) Fail(error);
  std::unique_ptr<cairo_surface_t, SurfaceDestroy> surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  {
    std::unique_ptr<cairo_t, CairoDestroy> cr(cairo_create(surface.get()));
    const RsvgRectangle viewport{0, 0, static_cast<double>(width), static_cast<double>(height)};
    if (!rsvg_handle_render_document(handle.get(), cr.get(), &viewport, &error)) Fail(error);
  }
  if (cairo_surface_write_to_png(surface.get(), file.c_str()) != CAIRO_STATUS_SUCCESS) {
    throw std::runtime_error("cannot write " + file.string());
  }
}

}  // namespace vexcomm::cli
