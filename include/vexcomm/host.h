#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <vexcomm/export.h>

namespace vexcomm {

class TraceSink;

// What the component needs of its host's platform: the pieces a Windows host would provide.
// Every member may be left empty; the default described beside it is used then.
struct VEXCOMM_EXPORT HostServices {
  // A modal message box with an OK button: returns when the user has seen it.
  // Default: one line "title: text" on standard error.
  std::function<void(const std::string& title, const std::string& text)> message_box;
  // Text setting 3 (INI directory) and 5 (data directory), each ending in "/".
  // Default: $VEXCOMM_INI_DIR / $VEXCOMM_DATA_DIR, else the XDG config and data directories
  // followed by "vexcomm/".
  std::function<std::string(int number)> text_setting;
  // Turns a date into the server's text form. Default: DD.MM.YYYY.
  std::function<std::string(std::chrono::sys_days)> date_to_text;
  // Today's date. Default: the system clock's local date.
  std::function<std::chrono::sys_days()> today;
  // Folder of the registry files. Default: $VEXCOMM_REGISTRY_DIR, else XDG config +
  // "vexcomm/registry/".
  std::filesystem::path registry_dir;
  // Called on the module's thread before a run stores a DateiNr that passes files handed to
  // the host since the last store (at the end of the run): the host makes what it saved of
  // them durable, all together, so that a crash never leaves the stored cursor past a file that
  // is not on disk. False (or an exception) keeps the stored DateiNr where it was: the next run
  // fetches those files again. Default: none, and DateiNr is stored as it stands.
  std::function<bool()> make_files_durable;
  // The host's own event processing (a GUI toolkit's "process pending events"), run inside Send
  // so the host's user interface stays alive: throughout the wait, at least every
  // kHostEventsInterval, and once after each whole reply. Code run by it may call CancelSend or
  // set Modus; a nested Send is refused. Default: none, and the wait blocks without wake-ups.
  std::function<void()> process_host_events;
  static constexpr std::chrono::milliseconds kHostEventsInterval{20};
  // Told of every frame and run end of the module's runs, and of each connection and TLS session
  // of the sockets made by Module::CreateSocket (see <vexcomm/trace.h>). Default: none, and no
  // record is ever built.
  std::shared_ptr<TraceSink> trace;
  // Frames go to the trace as they went over the wire, identity and texts included: for the
  // user's own debugging only. Default: identity fields, support and password texts and large
  // file contents are masked.
  bool trace_unmasked = false;
};

// `given` with every empty member filled with the default described above; filled members are
// kept. The defaults a host leaves empty are the ones the component uses. Any thread.
VEXCOMM_EXPORT HostServices DefaultHostServices(HostServices given = {});

// Creates the missing folders of `dir` for the owner alone (0700), as the component makes its
// registry folder; folders that exist keep their modes. Any thread. Throws std::system_error.
VEXCOMM_EXPORT void CreatePrivateFolders(const std::filesystem::path& dir);

// A value of an INI file, read as the component reads MorvaZedi.ini: section and key compared
// without case, blanks and one pair of enclosing quotes removed, at most 254 characters. A
// missing file, section or key, an empty value, and a file that is not text all give
// `default_value`. Any thread.
VEXCOMM_EXPORT std::string ReadIniValue(const std::filesystem::path& file,
                                        const std::string& section, const std::string& key,
                                        const std::string& default_value = {});

// The server a run connects to: "IP" of section "Comm" in ini_dir + "MorvaZedi.ini" when that
// file exists, else the build's standard host. Any thread.
VEXCOMM_EXPORT std::string ServerHostName(const std::string& ini_dir);

}  // namespace vexcomm
