#include "png_chart.h"

#include <cairo.h>
#include <dlfcn.h>
#include <librsvg/rsvg.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "messages.h"

namespace vexcomm::cli {
namespace {

// librsvg brings cairo, pango, fontconfig, X11 and ICU: some fifty libraries that every other
// command would load at start for nothing. They are loaded here, when a PNG is asked for.
void* Open(const char* library) {
  void* handle = ::dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    throw std::runtime_error(
        Fill(Tr("cannot draw the chart as PNG: %1 (install librsvg, or write an SVG)"),
             {why ? why : library}));
  }
  return handle;
}

template <class Fn>
Fn* Symbol(void* library, const char* name) {
  void* symbol = ::dlsym(library, name);
  if (!symbol) throw std::runtime_error(Fill(Tr("cannot draw the chart as PNG: no %1"), {name}));
  return reinterpret_cast<Fn*>(symbol);
}

// The few functions used, resolved once; the libraries stay loaded for the process's life.
struct Rsvg {
  Rsvg() {
    void* rsvg = Open("librsvg-2.so.2");
    void* cairo = Open("libcairo.so.2");
    void* gobject = Open("libgobject-2.0.so.0");
    void* glib = Open("libglib-2.0.so.0");
    new_from_data = Symbol<decltype(rsvg_handle_new_from_data)>(rsvg, "rsvg_handle_new_from_data");
    render_document =
        Symbol<decltype(rsvg_handle_render_document)>(rsvg, "rsvg_handle_render_document");
    surface_create =
        Symbol<decltype(cairo_image_surface_create)>(cairo, "cairo_image_surface_create");
    surface_destroy = Symbol<decltype(cairo_surface_destroy)>(cairo, "cairo_surface_destroy");
    write_to_png =
        Symbol<decltype(cairo_surface_write_to_png)>(cairo, "cairo_surface_write_to_png");
    create = Symbol<decltype(cairo_create)>(cairo, "cairo_create");
    destroy = Symbol<decltype(cairo_destroy)>(cairo, "cairo_destroy");
    object_unref = Symbol<decltype(g_object_unref)>(gobject, "g_object_unref");
    error_free = Symbol<decltype(g_error_free)>(glib, "g_error_free");
  }

  decltype(rsvg_handle_new_from_data)* new_from_data;
  decltype(rsvg_handle_render_document)* render_document;
  decltype(cairo_image_surface_create)* surface_create;
  decltype(cairo_surface_destroy)* surface_destroy;
  decltype(cairo_surface_write_to_png)* write_to_png;
  decltype(cairo_create)* create;
  decltype(cairo_destroy)* destroy;
  decltype(g_object_unref)* object_unref;
  decltype(g_error_free)* error_free;
};

const Rsvg& Library() {
  static const Rsvg library;
  return library;
}

}  // namespace

void WriteSvgAsPng(std::string_view svg, int width, int height, const std::filesystem::path& file) {
  const Rsvg& lib = Library();
  auto fail = [&lib](GError* error) {
    const std::string text = error != nullptr ? error->message : Tr("invalid SVG");
    if (error != nullptr) lib.error_free(error);
    throw std::runtime_error(Fill(Tr("cannot draw the chart as PNG: %1"), {text}));
  };
  const auto unref = [&lib](RsvgHandle* handle) { lib.object_unref(handle); };
  const auto destroy_surface = [&lib](cairo_surface_t* surface) { lib.surface_destroy(surface); };
  const auto destroy_cairo = [&lib](cairo_t* cr) { lib.destroy(cr); };

  GError* error = nullptr;
  std::unique_ptr<RsvgHandle, decltype(unref)> handle(
      lib.new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error), unref);
  if (!handle) fail(error);
  std::unique_ptr<cairo_surface_t, decltype(destroy_surface)> surface(
      lib.surface_create(CAIRO_FORMAT_ARGB32, width, height), destroy_surface);
  {
    std::unique_ptr<cairo_t, decltype(destroy_cairo)> cr(lib.create(surface.get()), destroy_cairo);
    const RsvgRectangle viewport{0, 0, static_cast<double>(width), static_cast<double>(height)};
    if (!lib.render_document(handle.get(), cr.get(), &viewport, &error)) fail(error);
  }
  if (lib.write_to_png(surface.get(), file.c_str()) != CAIRO_STATUS_SUCCESS) {
    throw std::runtime_error(Fill(Tr("cannot write %1"), {file.string()}));
  }
}

}  // namespace vexcomm::cli
