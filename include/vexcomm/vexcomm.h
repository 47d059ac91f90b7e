#pragma once

/// @file
/// The component: Module (the loaded component's shared state and message loop), VexComm (its
/// one creatable class), the operation codes and the events.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <vexcomm/cls_fehler.h>
#include <vexcomm/dispatch.h>
#include <vexcomm/export.h>
#include <vexcomm/host.h>
#include <vexcomm/operation.h>
#include <vexcomm/outcome.h>
#include <vexcomm/socket.h>

/// VexComm5: the communication component of the VEX-Morva home-banking application. The host
/// guide (host-guide.md) tells how a host uses it.
namespace vexcomm {

class colAktien;
class clsTagesgeld;

namespace detail {
struct ModuleState;   // the component's own: not for hosts
struct ModuleAccess;  // how the component reaches it
}  // namespace detail

/// The identities a COM surface would register.
namespace com {
/// The type library VexComm5, version 1.13.
inline constexpr std::string_view kTypeLibrary = "{044982BC-4CA7-4F79-A479-93B688D8823C}";
/// The class VexComm.
inline constexpr std::string_view kClsidVexComm = "{05AB0809-6DAE-419E-A752-A5BE87960F15}";
/// The interface _VexComm.
inline constexpr std::string_view kIidVexComm = "{F9D883C9-070A-4892-9A1D-13FF336080B4}";
/// The event interface __VexComm.
inline constexpr std::string_view kIidVexCommEvents = "{BEDB0AF3-D882-424E-ADE3-8EDE03479548}";
/// The ProgID of VexComm, for CreateObject.
inline constexpr std::string_view kProgIdVexComm = "VexComm5.VexComm";
}  // namespace com

/// The loaded component: the state all VexComm instances of it share, the thread's message loop,
/// and the plain values that outlive the last instance. Hosts use Module::Process(); tests and
/// hosts with services of their own make their own.
/// @thread Used on one thread, the host's (the one that calls Send), except Post.
/// @ownership The shared state lives as long as the Module or any VexComm made from it.
class VEXCOMM_EXPORT Module {
 public:
  /// Makes a module and reads the persistent values (DateiNr, the connection-attempt counter)
  /// from the registry store.
  /// @param host The host's services; empty members get their defaults (DefaultHostServices).
  explicit Module(HostServices host = {});
  /// Lets go of the shared state; VexComm instances made from it keep it alive.
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  /// The process-wide module, with the default host services; made on the first call and never
  /// destroyed (hosts may release their objects during static destruction).
  /// @return The module.
  /// @thread Any thread may make it; it is then used on one.
  static Module& Process();

  /// Runs a function on the module's thread: inside the wait of a running Send, else in the
  /// next wait or PumpMessages. The way in from another thread (a user interface's, a signal
  /// handler's thread).
  /// @param fn What to run. What it throws does not end a running Send: it is reported as a
  ///   log line through the callback, and the run goes on.
  /// @thread Any thread.
  void Post(std::function<void()> fn);
  /// Makes a TLS socket whose events run on this module's loop; hand it to VexComm::SetSocket.
  /// Nothing connects yet. A CA file that cannot be read does not fail here: every certificate
  /// is then refused, with that as the reason.
  /// @param options The socket's configuration, copied.
  /// @return The socket.
  std::shared_ptr<ProxySocket> CreateSocket(const SocketOptions& options);
  /// Lets the pending messages (socket events, posted functions) run once, then returns: for
  /// hosts that wait on their own.
  void PumpMessages();
  /// The largest reply a run accepts, in octets as received (one per character); a server
  /// sending more ends the run (Fehler.Code 1, OutcomeKind::kInvalidReply) instead of
  /// exhausting memory. A file reply (AIGET) may be as large as this limit.
  /// @param bytes The limit; default kDefaultMaxFrameBytes.
  void SetMaxFrameBytes(std::size_t bytes);
  /// The largest reply other than a file reply, known from the reply's head.
  /// @param bytes The limit; default kDefaultMaxNonFileFrameBytes.
  void SetMaxNonFileFrameBytes(std::size_t bytes);
  /// The default limit of a file reply: 256 MiB.
  static constexpr std::size_t kDefaultMaxFrameBytes = std::size_t{256} << 20;
  /// The default limit of any other reply: 16 MiB.
  static constexpr std::size_t kDefaultMaxNonFileFrameBytes = std::size_t{16} << 20;

  /// How much of the reply being received has arrived, in octets as received.
  struct ReplyProgress {
    std::size_t received = 0;  ///< Octets of the reply received so far.
    /// The whole reply's size once its head states it (a file's content), else 0; never below
    /// `received`, and equal to it once the reply is complete.
    std::size_t expected = 0;
  };
  /// @return The progress of the reply being received; zeros between replies.
  ReplyProgress CurrentReplyProgress() const;
  /// Sets who hears each piece of a reply: called on the module's thread after each piece has
  /// arrived, before the reply is handled; one call per piece received, cheap enough to leave
  /// on. What it throws is ignored.
  /// @param fn The handler; empty removes it.
  void OnReplyProgress(std::function<void(const ReplyProgress&)> fn);

 private:
  friend struct detail::ModuleAccess;
  std::shared_ptr<detail::ModuleState> state_;
};

/// The component's one creatable class. Create it, SetSocket, SetCallback, set Modus, Send, then
/// read Fehler (or Outcome), Aktien, Tagesgeld and Festgeld. Every instance of a Module works on
/// that module's shared state: the same Fehler, Aktien, socket, callback and Modus.
/// Late-bound members in slot order: Aktien, Fehler, Modus (get, put), Tagesgeld, CancelSend,
/// Send, SetCallback, SetSocket, Festgeld, LogSupport (get, put), LogDatum (put), LogText
/// (put), Outcome, RefuseFile.
/// @ownership Held by std::shared_ptr (Create). The module's shared objects live while any
///   instance does; the last one going releases them (the socket and the callback included).
/// @thread The module's thread only, except PostCancelSend.
class VEXCOMM_EXPORT VexComm : public automation::DispatchObject<VexComm>,
                               public std::enable_shared_from_this<VexComm> {
 public:
  static constexpr std::string_view kTypeName = "VexComm";  ///< The late-bound class name.
  /// @return The late-bound members in slot order, with their documented dispatch ids.
  static const std::vector<automation::Member<VexComm>>& Members();
  /// @return The interfaces the object answers to: com::kIidVexComm and its six earlier
  ///   versions.
  static std::span<const std::string_view> InterfaceIds();

  /// Dispatch id of the event NochAufServer(Anzahl).
  static constexpr automation::DispId kEventNochAufServer = 1;
  /// Dispatch id of the event Delete(DeleteArray).
  static constexpr automation::DispId kEventDelete = 2;
  /// Dispatch id of the event NeueDatei(DateiNummer, ..., Datei).
  static constexpr automation::DispId kEventNeueDatei = 3;
  /// Raised to the typed handlers only (OnSkippedFile); not part of the event interface.
  static constexpr automation::DispId kEventSkippedFile = 0x7FFF0001;

  /// Makes an instance. The first of a module (again after the last has gone) creates the
  /// shared objects and reads the INI and data folders (HostServices::text_setting); a failure
  /// there is shown in a message box titled "Vexcomm.Init", and the instance is made all the
  /// same (its Send then does nothing but say so).
  /// @param module The module whose state it shares.
  /// @return The instance.
  static std::shared_ptr<VexComm> Create(Module& module = Module::Process());
  /// The last instance of a module releases the shared objects.
  ~VexComm() override;

  /// @return The quote collection; the same object while the shared state lives.
  std::shared_ptr<colAktien> Aktien() const;
  /// @return The error record; the same object while the shared state lives.
  std::shared_ptr<clsFehler> Fehler() const;
  /// How the last Send ended, beside Fehler: one kind per way, the detail, the server's error and
  /// the message boxes shown. Shared like Fehler; reset when a Send starts.
  /// @return The outcome; the same object while the shared state lives.
  std::shared_ptr<RunOutcome> Outcome() const;
  /// @return The operation code the next Send runs, as stored.
  int32_t Modus() const;
  /// Chooses the operation the next Send runs; any value is stored without a check. Code
  /// running inside Send (a handler) may change it: the run reads it afresh after each reply.
  /// @param modus The operation code.
  void SetModus(vexCommModus modus);
  /// @return The overnight-money tree (vexCommTGA); the same object while the shared state
  ///   lives.
  std::shared_ptr<clsTagesgeld> Tagesgeld() const;
  /// Cancels the running Send: when a session runs and Fehler.Code is still 0, Code becomes 2
  /// with Text "Benutzer-Abbruch" (OutcomeKind::kCancelled); in every case the session is
  /// closed: the socket closed, NochAufServer raised, the wait of Send ended. Outside a run it
  /// only closes, and NochAufServer reaches this instance's handlers. Never fails.
  void CancelSend() noexcept;
  /// Runs the operation chosen by Modus to its end: connects, sends the requests one after the
  /// other, handles each reply, closes, and stores the persistent values. Events and callbacks
  /// arrive inside it, on this thread. Fehler.Code is set to 0 and the Outcome reset first.
  /// Without a socket it shows the message box "VexComm.Connect" and returns.
  /// @return false, always (as documented; true never): read Fehler and Outcome. A Send called
  ///   while a Send of this module runs is refused: it returns false at once and changes
  ///   nothing.
  bool Send();
  /// Sets the callback object, whose method `callback(kind, text)` is called late-bound by name
  /// with each log line, status text, operation name and progress (CallbackKind). What it throws
  /// is ignored.
  /// @param obj The object (automation::MakeCallback makes one); empty removes it, and the
  ///   reports are dropped.
  void SetCallback(std::shared_ptr<automation::Dispatch> obj);
  /// Hands the module a socket (Module::CreateSocket), replacing the previous one.
  /// @param obj The socket; empty removes it.
  /// @throws vexcomm::Error 13 when obj is no socket of the VexProxySocket5 role (the previous
  ///   socket stays); 91 when the shared objects could not be made.
  void SetSocket(std::shared_ptr<automation::Dispatch> obj);
  /// @return The fixed-term tree (vexCommFGA); the same object while the shared state lives.
  std::shared_ptr<clsTagesgeld> Festgeld() const;
  /// @return The support-log text, as stored.
  std::string LogSupport() const;
  /// Stores the support log for vexCommSendLog.
  /// @param text The log, UTF-8.
  void SetLogSupport(std::string text);
  /// Stores the date for the support-log and password requests.
  /// @param text The date as text.
  void SetLogDatum(std::string text);
  /// Stores the text for the support-log and password requests.
  /// @param text The text, UTF-8.
  void SetLogText(std::string text);

  /// Cancels the running Send from another thread: posts CancelSend to the module's loop, where
  /// it runs inside the wait. Nothing happens when no Send runs by then.
  /// @thread Any thread; the instance may be gone by the time it runs.
  void PostCancelSend();

  /// Inside a NeueDatei or Delete handler: the host could not take this file. The run ends after
  /// the handler with Fehler.Code 2, "Datei nicht angenommen: " + reason
  /// (OutcomeKind::kFileRefused), and DateiNr stays before the file, so the next run fetches it
  /// again. A typed handler that throws refuses its file the same way, with the exception's text
  /// as the reason. Outside such a handler it does nothing.
  /// @param reason Why, for Fehler.Text and the outcome's detail.
  void RefuseFile(std::string reason);

  /// The late-bound event sinks: Dispatch sinks are invoked by the event dispatch ids above and
  /// hear every run of the module, on its first instance only.
  /// @return The instance's event source; C++ handlers attached to it directly are typed
  ///   handlers.
  automation::EventSource& Events() { return events_; }
  /// Attaches a typed handler of NeueDatei. Typed handlers hear the runs of their own instance
  /// (the one whose Send runs, or whose CancelSend closes), synchronously inside Send.
  /// @param fn Called with each file; the event is lent for the call. Throwing refuses the file
  ///   (as RefuseFile).
  /// @return The cookie, for Events().Unadvise.
  automation::EventSource::Cookie OnNeueDatei(std::function<void(const NeueDateiEvent&)> fn);
  /// Attaches a typed handler of Delete: the server withdrew a file.
  /// @param fn Called with the array [Empty, the file's number as text]. Throwing refuses the
  ///   notice (as RefuseFile).
  /// @return The cookie, for Events().Unadvise.
  automation::EventSource::Cookie OnDelete(std::function<void(const automation::VariantArray&)> fn);
  /// Attaches a typed handler of NochAufServer, raised at every close of a session.
  /// @param fn Called with the number of files the server still holds.
  /// @return The cookie, for Events().Unadvise.
  automation::EventSource::Cookie OnNochAufServer(std::function<void(int32_t)> fn);
  /// Attaches a handler told of a file reply whose content could not be found: counted (DateiNr
  /// moves past it) but no NeueDatei. For C++ hosts only; late-bound sinks are not told.
  /// @param fn Called with the file's number and name.
  /// @return The cookie, for Events().Unadvise.
  automation::EventSource::Cookie OnSkippedFile(
      std::function<void(int32_t nummer, const std::string& name)> fn);

 private:
  VEXCOMM_NO_EXPORT explicit VexComm(std::shared_ptr<detail::ModuleState> state);

  std::shared_ptr<detail::ModuleState> state_;
  automation::EventSource events_;
};

/// Creates an object of the component by ProgID, as a late-binding host does. The first call
/// registers the component's classes.
/// @param prog_id "VexComm5.VexComm" (made in Module::Process()), "VexComm5.colAktien",
///   "VexComm5.clsAktie", or "VexComm5." + a class of deposits.h; in any case.
/// @return The object.
/// @throws vexcomm::Error 429 for an unknown ProgID.
/// @thread The object belongs to the calling thread (a VexComm: to the process module's).
VEXCOMM_EXPORT std::shared_ptr<automation::Dispatch> CreateObject(std::string_view prog_id);

}  // namespace vexcomm
