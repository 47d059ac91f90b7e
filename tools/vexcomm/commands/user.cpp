// user show, user set: the installation's identity record.
#include <charconv>
#include <cstdint>
#include <sstream>

#include <vexcomm/identity.h>

#include "commands/commands.h"
#include "commands/common.h"
#include "messages.h"
#include "text_table.h"

namespace vexcomm::cli {
namespace {

// The number of the last file received: what the server counts from, 0 or more.
int32_t ParseFileNumberOption(std::string_view text) {
  int64_t value = -1;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || end != text.data() + text.size() ||
      (ec != std::errc() && ec != std::errc::result_out_of_range)) {
    throw UsageError(Fill(Tr("%1 wants a whole number, not \"%2\""), {"--datei-nr", text}));
  }
  if (ec != std::errc() || value < 0 || value > INT32_MAX) {
    throw UsageError(Fill(Tr("--datei-nr %1 is out of range (0 to 2147483647)"), {text}));
  }
  return static_cast<int32_t>(value);
}

// A field of the identity record travels between ":" in every request.
std::string IdentityField(const CommandLine& line, std::string_view option, bool digits) {
  std::string value = *line.Text(option);
  if (value.find(':') != std::string::npos) {
    throw UsageError(
        Fill(Tr("%1 must not contain \":\" (it separates the fields of a request)"), {option}));
  }
  if (digits && (value.empty() || value.find_first_not_of("0123456789") != std::string::npos)) {
    throw UsageError(Fill(Tr("%1 wants digits only, not \"%2\""), {option, value}));
  }
  return value;
}

// NAME@DOMAIN.TLD without blanks: what the server can answer to. Empty clears the field.
bool IsMailAddress(std::string_view text) {
  if (text.empty()) return true;
  const auto at = text.find('@');
  if (at == 0 || at == std::string_view::npos || text.find('@', at + 1) != std::string_view::npos) {
    return false;
  }
  const std::string_view domain = text.substr(at + 1);
  const auto dot = domain.rfind('.');
  return text.find_first_of(" \t,;<>()[]\\\"") == std::string_view::npos &&
         dot != std::string_view::npos && dot > 0 && domain.size() - dot > 2 &&
         domain.find("..") == std::string_view::npos;
}

Json UserJson(const Identity& user) {
  return Json{{"BLZ", user.BLZ},         {"KundenNr", user.KundenNr}, {"DateiNr", user.DateiNr},
              {"Vorname", user.Vorname}, {"Nachname", user.Nachname}, {"EMail", user.EMail}};
}

void ShowUser(Output& output, const Identity& user) {
  if (output.json()) {
    output.EmitResult(Json{{"user", UserJson(user)}});
    return;
  }
  TextTable table({Tr("field"), Tr("value")});
  table.AddRow({"BLZ", user.BLZ});
  table.AddRow({"KundenNr", user.KundenNr});
  table.AddRow({"DateiNr", std::to_string(user.DateiNr)});
  table.AddRow({"Vorname", user.Vorname});
  table.AddRow({"Nachname", user.Nachname});
  table.AddRow({"EMail", user.EMail});
  std::ostringstream text;
  table.Print(text);
  std::string shown = text.str();
  shown.pop_back();
  output.Result(shown);
}

}  // namespace

int UserShow(const CommandLine& line, Output& output) {
  const Folders folders = ResolveFolders(line.global);
  try {
    ShowUser(output, ReadIdentity(folders.registry));
  } catch (const std::runtime_error& e) {
    return output.Fail(kExitLocalStore, "local", e.what());
  }
  return kExitOk;
}

int UserSet(const CommandLine& line, Output& output) {
  if (line.options.empty()) throw UsageError(Tr("user set: name at least one field to change"));
  const Folders folders = ResolveFolders(line.global);
  // A run that read the record before this change would write its old values back.
  const InstallationLock lock = LockInstallation(line.global, folders, output);
  Identity user;
  try {
    user = ReadIdentity(folders.registry);
  } catch (const std::runtime_error& e) {
    return output.Fail(kExitLocalStore, "local", e.what());
  }
  if (line.Has("--blz")) {
    user.BLZ = IdentityField(line, "--blz", true);
    if (user.BLZ.size() != 8)
      throw UsageError(Fill(Tr("--blz wants the 8 digits of a bank code, not \"%1\""), {user.BLZ}));
  }
  if (line.Has("--kunden-nr")) user.KundenNr = IdentityField(line, "--kunden-nr", true);
  if (auto v = line.Value("--datei-nr")) user.DateiNr = ParseFileNumberOption(*v);
  if (line.Has("--vorname")) user.Vorname = IdentityField(line, "--vorname", false);
  if (line.Has("--nachname")) user.Nachname = IdentityField(line, "--nachname", false);
  if (line.Has("--email")) {
    user.EMail = IdentityField(line, "--email", false);
    if (!IsMailAddress(user.EMail)) {
      throw UsageError(
          Fill(Tr("--email wants an address as name@example.de, not \"%1\""), {user.EMail}));
    }
  }
  try {
    WriteIdentity(folders.registry, user);
  } catch (const std::exception& e) {
    return output.Fail(kExitLocalStore, "local", e.what());
  }
  ShowUser(output, user);
  return kExitOk;
}

}  // namespace vexcomm::cli
