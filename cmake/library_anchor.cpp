// The shared library is assembled from the layer archives; this file only gives it a source.
namespace vexcomm::detail {
[[maybe_unused]] static const int library_anchor = 0;
}
