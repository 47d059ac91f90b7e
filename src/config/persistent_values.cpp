#include "config/persistent_values.h"

#include <charconv>

#include "config/registry_store.h"

namespace vexcomm::config {
namespace {

constexpr std::string_view kKey = "Software\\VexComm5";

std::string TextOf(const std::optional<RegistryValue>& v) {
  if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ)) return {};
  std::string_view data = v->data;
  if (data.ends_with('\0')) data.remove_suffix(1);  // the stored terminator
  return std::string(data);
}

int32_t NumberOf(const std::optional<RegistryValue>& v) {
  if (!v) return 0;
  if (v->type == REG_DWORD && v->data.size() == 4) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(v->data[i]);
    return static_cast<int32_t>(n);
  }
  // A number someone stored as text still counts: losing DateiNr would fetch files again.
  const std::string text = TextOf(v);
  int32_t n = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  return ec == std::errc{} && end == text.data() + text.size() ? n : 0;
}

RegistryValue Text(const std::string& s) {
  return {REG_SZ, s + '\0'};
}

RegistryValue Dword(int32_t value) {
  const auto n = static_cast<uint32_t>(value);
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i) data[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  return {REG_DWORD, std::move(data)};
}

}  // namespace

PersistentRecord LoadPersistentValues(const std::filesystem::path& registry_dir) {
  PersistentRecord record;
  try {
    const RegistryStore store(registry_dir);
    const auto get = [&](std::string_view name) {
      return store.QueryValue(HKEY_CURRENT_USER, kKey, name);
    };
    record.user.BLZ = TextOf(get("BLZ"));
    record.user.KundenNr = TextOf(get("KundenNr"));
    record.user.DateiNr = NumberOf(get("DateiNr"));
    record.user.Vorname = TextOf(get("Vorname"));
    record.user.Nachname = TextOf(get("Nachname"));
    record.user.EMail = TextOf(get("EMail"));
    record.attempts = NumberOf(get("Verbindungsversuche"));
  } catch (...) {
    return {};  // e.g. out of memory on a damaged file: start fresh rather than fail a run
  }
  return record;
}

bool StorePersistentValues(const std::filesystem::path& registry_dir,
                           const PersistentRecord& record) {
  try {
    RegistryStore store(registry_dir);
    const auto& u = record.user;
    return store.SetValues(HKEY_CURRENT_USER, kKey,
                           {{"BLZ", Text(u.BLZ)},
                            {"KundenNr", Text(u.KundenNr)},
                            {"DateiNr", Dword(u.DateiNr)},
                            {"Vorname", Text(u.Vorname)},
                            {"Nachname", Text(u.Nachname)},
                            {"EMail", Text(u.EMail)},
                            {"Verbindungsversuche", Dword(record.attempts)}});
  } catch (...) {
    return false;
  }
}

}  // namespace vexcomm::config
