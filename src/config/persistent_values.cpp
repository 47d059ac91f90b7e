#include "config/persistent_values.h"

#include <charconv>

#include "config/registry_store.h"
#include "platform/utf8.h"

namespace vexcomm::config {
namespace {

constexpr std::string_view kKey = "Software\\VexComm5";

std::string TextOf(const RegistryValue& v) {
  const DecodedValue decoded = Decode(v);
  return decoded.kind == DecodedValue::Kind::Text ? std::string(decoded.text) : std::string();
}

int32_t NumberOf(const RegistryValue& v) {
  const DecodedValue decoded = Decode(v);
  if (decoded.kind == DecodedValue::Kind::Number) return decoded.number;
  // A number someone stored as text still counts: losing DateiNr would fetch files again.
  if (decoded.kind != DecodedValue::Kind::Text) return 0;
  int32_t n = 0;
  const std::string_view text = decoded.text;
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

LoadedRecord ReadPersistentValues(const std::filesystem::path& registry_dir,
                                  const RegistryStore::Reporter& report) {
  LoadedRecord loaded;
  try {
    const RegistryStore store(registry_dir, report);
    auto read = store.ReadKey(HKEY_CURRENT_USER, kKey);
    if (!read) {
      loaded.unreadable = true;
      return loaded;
    }
    loaded.damaged = read->damaged;
    auto& record = loaded.record;
    for (const auto& [name, value] : read->values) {
      const std::string folded = platform::ToUpper(name);
      if (folded == "BLZ") record.user.BLZ = TextOf(value);
      if (folded == "KUNDENNR") record.user.KundenNr = TextOf(value);
      if (folded == "DATEINR") record.user.DateiNr = NumberOf(value);
      if (folded == "VORNAME") record.user.Vorname = TextOf(value);
      if (folded == "NACHNAME") record.user.Nachname = TextOf(value);
      if (folded == "EMAIL") record.user.EMail = TextOf(value);
      if (folded == "VERBINDUNGSVERSUCHE") record.attempts = NumberOf(value);
    }
  } catch (...) {
    // e.g. out of memory on a damaged file: start fresh rather than fail a run
    return {PersistentRecord{}, true, false};
  }
  return loaded;
}

PersistentRecord LoadPersistentValues(const std::filesystem::path& registry_dir,
                                      const RegistryStore::Reporter& report) {
  return ReadPersistentValues(registry_dir, report).record;
}

namespace {

std::vector<RegistryStore::NamedValue> IdentityValues(const clsUserDaten& u) {
  return {{"BLZ", Text(u.BLZ)},           {"KundenNr", Text(u.KundenNr)},
          {"DateiNr", Dword(u.DateiNr)},  {"Vorname", Text(u.Vorname)},
          {"Nachname", Text(u.Nachname)}, {"EMail", Text(u.EMail)}};
}

bool Store(const std::filesystem::path& registry_dir,
           const std::vector<RegistryStore::NamedValue>& values, std::string* failure) {
  RegistryStore::WriteFailure why{registry_dir, {}};
  try {
    RegistryStore store(registry_dir);
    if (store.SetValues(HKEY_CURRENT_USER, kKey, values, &why)) return true;
  } catch (...) {
    why.error = {};  // out of memory, say: no errno to tell
  }
  if (failure) *failure = why.Describe();
  return false;
}

}  // namespace

bool StorePersistentValues(const std::filesystem::path& registry_dir,
                           const PersistentRecord& record) {
  auto values = IdentityValues(record.user);
  values.emplace_back("Verbindungsversuche", Dword(record.attempts));
  return Store(registry_dir, values, nullptr);
}

bool StoreIdentity(const std::filesystem::path& registry_dir, const clsUserDaten& user,
                   std::string* failure) {
  return Store(registry_dir, IdentityValues(user), failure);
}

bool StoreChangedValues(const std::filesystem::path& registry_dir, const PersistentRecord& before,
                        const PersistentRecord& after, std::string* failure) {
  std::vector<RegistryStore::NamedValue> changed;
  const auto old_values = IdentityValues(before.user);
  auto new_values = IdentityValues(after.user);
  for (std::size_t i = 0; i < new_values.size(); ++i) {
    if (new_values[i] != old_values[i]) changed.push_back(std::move(new_values[i]));
  }
  if (after.attempts != before.attempts) {
    changed.emplace_back("Verbindungsversuche", Dword(after.attempts));
  }
  return changed.empty() || Store(registry_dir, changed, failure);
}

}  // namespace vexcomm::config
