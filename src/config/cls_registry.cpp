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
  const DecodedValue decoded = Decode(*stored);
  switch (decoded.kind) {
    case DecodedValue::Kind::Text:
      return automation::Variant(std::string(decoded.text));
    case DecodedValue::Kind::Number:
      return automation::Variant(decoded.number);
    case DecodedValue::Kind::Bytes:
      break;
  }
  automation::VariantArray bytes;
  bytes.reserve(decoded.text.size());
  for (char c : decoded.text)
    bytes.emplace_back(static_cast<int16_t>(static_cast<unsigned char>(c)));
  return automation::Variant(std::move(bytes));
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
