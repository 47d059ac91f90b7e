#include "config/cls_registry.h"

#include <vexcomm/error.h>

namespace vexcomm::config {

clsRegistry::clsRegistry(std::filesystem::path registry_dir) : store_(std::move(registry_dir)) {}

bool clsRegistry::KeyExists() const {
  return store_.KeyExists(ClassKey, SectionKey);
}

bool clsRegistry::CreateKey() {
  if (!store_.CreateKey(ClassKey, SectionKey)) {
    throw Error(errnum::kRegistry, "Failed to create registry Key: '" + SectionKey,
                "VexComm5.cRegistry");
  }
  return true;
}

automation::Variant clsRegistry::Value() const {
  const auto stored = store_.QueryValue(ClassKey, SectionKey, ValueKey);
  if (!stored) return {};
  const std::string& data = stored->data;
  switch (stored->type) {
    case REG_SZ:
    case REG_MULTI_SZ:
      // The size counts the terminator; a multi-string keeps its inner separators.
      return automation::Variant(data.empty() ? std::string() : data.substr(0, data.size() - 1));
    case REG_DWORD: {
      uint32_t n = 0;
      for (std::size_t i = std::min<std::size_t>(data.size(), 4); i > 0; --i) {
        n = (n << 8) | static_cast<unsigned char>(data[i - 1]);
      }
      return automation::Variant(static_cast<int32_t>(n));
    }
    default: {
      automation::VariantArray bytes;
      bytes.reserve(data.size());
      for (char c : data) bytes.emplace_back(static_cast<int16_t>(static_cast<unsigned char>(c)));
      return automation::Variant(std::move(bytes));
    }
  }
}

void clsRegistry::Value(const automation::Variant& value) {
  if (!store_.CreateKey(ClassKey, SectionKey)) return;
  std::string text = value.ToString();
  // An empty string is stored as one blank of size 1: read back without the "terminator", it is
  // empty text again.
  std::string data = text.empty() ? std::string(" ") : text + '\0';
  store_.SetValue(ClassKey, SectionKey, ValueKey, {REG_SZ, std::move(data)});
}

}  // namespace vexcomm::config
