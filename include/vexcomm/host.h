#pragma once

/// @file
/// What the component needs of its host's platform, and the host-side helpers around it.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <vexcomm/export.h>

namespace vexcomm {

class TraceSink;

/// What the component needs of its host's platform: the pieces a Windows host would provide.
/// Given to Module's constructor; every member may be left empty, and the default described
/// beside it is used then.
/// @thread Every function is called on the module's thread, inside the module's calls.
/// @ownership The module keeps a copy for its whole life, with whatever the functions capture.
struct VEXCOMM_EXPORT HostServices {
  /// A modal message box with an OK button: returns when the user has seen it. The component
  /// shows one only for a failed procedure (the title names it, "VexComm.Connect"); each box of
  /// a Send also lands in RunOutcome::message_boxes. Default: one line "title: text" on
  /// standard error.
  std::function<void(const std::string& title, const std::string& text)> message_box;
  /// Text setting 3 (the INI folder, holding MorvaZedi.ini and the template Kurse.dat) and 5 (the
  /// data folder, holding Kurse.dat), each ending in "/"; read when the module's VexComm count
  /// rises from 0 to 1. Default: $VEXCOMM_INI_DIR / $VEXCOMM_DATA_DIR, else the XDG config and data
  /// folders followed by "vexcomm/".
  std::function<std::string(int number)> text_setting;
  /// The number of text_setting's INI folder.
  static constexpr int kIniFolderSetting = 3;
  /// The number of text_setting's data folder.
  static constexpr int kDataFolderSetting = 5;
  /// Turns a date into the server's text form. Default: DD.MM.YYYY.
  std::function<std::string(std::chrono::sys_days)> date_to_text;
  /// Today's date. Default: the system clock's local date.
  std::function<std::chrono::sys_days()> today;
  /// Folder of the registry files (the identity record, DateiNr, the connection-attempt
  /// counter). Default: $VEXCOMM_REGISTRY_DIR, else the XDG config folder + "vexcomm/registry/".
  std::filesystem::path registry_dir;
  /// Called on the module's thread before a run stores a DateiNr that passes files handed to
  /// the host since the last store (at the end of the run): the host makes what it saved of
  /// them durable, all together, so that a crash never leaves the stored cursor past a file that
  /// is not on disk. False (or an exception) keeps the stored DateiNr where it was, the run's
  /// outcome is OutcomeKind::kFileRefused, and the next run fetches those files again.
  /// Default: none, and DateiNr is stored as it stands.
  std::function<bool()> make_files_durable;
  /// The host's own event processing (a GUI toolkit's "process pending events"), run inside Send
  /// so that the host's user interface stays alive: throughout the wait, at least every
  /// kHostEventsInterval, once after each whole reply and between the stocks of a quote write,
  /// and throughout the quote write's statements and commit, which then run on a thread of
  /// their own. Code run by it may call VexComm::CancelSend or set Modus; a nested Send is
  /// refused. What it throws is ignored. Default: none, and the wait blocks in the kernel without
  /// wake-ups.
  std::function<void()> process_host_events;
  /// How often process_host_events runs while Send waits.
  static constexpr std::chrono::milliseconds kHostEventsInterval{20};
  /// Told of every frame and run end of the module's runs, and of each connection and TLS session
  /// of the sockets made by Module::CreateSocket (see trace.h). Default: none, and no record is
  /// ever built.
  std::shared_ptr<TraceSink> trace;
  /// Frames go to the trace as they went over the wire, identity and texts included: for the
  /// user's own debugging only. Default (false): identity fields, support and password texts
  /// and large file contents are masked.
  bool trace_unmasked = false;
};

/// The services with every empty member filled with its default.
/// @param given The host's services; filled members are kept.
/// @return `given`, completed with the defaults the component would use for what is empty.
/// @thread Any thread.
VEXCOMM_EXPORT HostServices DefaultHostServices(HostServices given = {});

/// Creates the missing folders of a path for the owner alone (0700), as the component makes its
/// registry folder; folders that exist keep their modes.
/// @param dir The folder to make, with any missing parents.
/// @throws std::system_error When a folder cannot be made.
/// @thread Any thread.
VEXCOMM_EXPORT void CreatePrivateFolders(const std::filesystem::path& dir);

/// A value of an INI file, read as the component reads MorvaZedi.ini: section and key compared
/// without case, blanks and one pair of enclosing quotes removed, at most 254 characters.
/// @param file The INI file.
/// @param section The section's name, without brackets.
/// @param key The key.
/// @param default_value What a missing file, section or key, an empty value or a file that is
///   not text gives.
/// @return The value, or `default_value`. Never throws for a fault of the file.
/// @thread Any thread.
VEXCOMM_EXPORT std::string ReadIniValue(const std::filesystem::path& file,
                                        const std::string& section, const std::string& key,
                                        const std::string& default_value = {});

/// The server a run connects to.
/// @param ini_dir The INI folder, ending in "/" (text setting 3).
/// @return "IP" of section "Comm" of `ini_dir` + "MorvaZedi.ini" when that file exists and
///   names one, else the build's standard host.
/// @thread Any thread.
VEXCOMM_EXPORT std::string ServerHostName(const std::string& ini_dir);

}  // namespace vexcomm
