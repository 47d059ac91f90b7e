#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <vexcomm/cls_fehler.h>
#include <vexcomm/dispatch.h>
#include <vexcomm/export.h>
#include <vexcomm/host.h>
#include <vexcomm/outcome.h>
#include <vexcomm/socket.h>

namespace vexcomm {

class colAktien;
class clsTagesgeld;

namespace detail {
struct ModuleState;   // the component's own: not for hosts
struct ModuleAccess;  // how the component reaches it
}  // namespace detail

// The first argument of the host callback's `callback(kind, text)`: what the text is.
enum CallbackKind : int16_t {
  kLogLine = 0,        // a log line
  kProgress = 2,       // the percentage done, as text in the locale's number form
  kStatusText = 3,     // a short text for a status line
  kOperationName = 4,  // the name of the operation now running
};

// Operation codes: what the next Send runs. Modus stores any value of the type; a code outside
// the table runs nothing.
enum vexCommModus : int32_t {
  VexCommGetNew = 2,
  VexCommGetFile = 3,
  VexCommNone = 6,
  vexCommCheckNew = 8,
  vexCommWDT = 13,
  vexCommWPK = 14,
  vexCommNewWPK = 15,
  vexCommTGA = 16,
  vexCommFGA = 17,
  vexCommGetAllWPK = 18,
  vexCommSendLog = 19,
  vexCommSendPWD = 20,
};

// The identities a COM surface would register.
namespace com {
inline constexpr std::string_view kTypeLibrary = "{044982BC-4CA7-4F79-A479-93B688D8823C}";
inline constexpr std::string_view kClsidVexComm = "{05AB0809-6DAE-419E-A752-A5BE87960F15}";
inline constexpr std::string_view kIidVexComm = "{F9D883C9-070A-4892-9A1D-13FF336080B4}";
inline constexpr std::string_view kIidVexCommEvents = "{BEDB0AF3-D882-424E-ADE3-8EDE03479548}";
inline constexpr std::string_view kProgIdVexComm = "VexComm5.VexComm";
}  // namespace com

// The loaded component: the state all VexComm instances share, the thread's message loop, and
// the plain values that outlive the last instance. Hosts use Module::Process(); tests make their
// own. Thread-safety: use it on the thread that created it, except Post.
class VEXCOMM_EXPORT Module {
 public:
  explicit Module(HostServices host = {});
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  static Module& Process();

  // Thread-safe: runs fn on the module's thread inside the wait of Send (or the next wait).
  void Post(std::function<void()> fn);
  // A TLS socket whose events run on this module's loop; hand it to VexComm::SetSocket.
  std::shared_ptr<ProxySocket> CreateSocket(const SocketOptions& options);
  // Lets pending messages run once (for hosts that wait on their own).
  void PumpMessages();
  // The largest reply a run accepts, in octets as received (one per character); a server
  // sending more ends the run (Fehler.Code 1) instead of exhausting memory. A file reply
  // (AIGET) may be as large as the first limit, every other reply only as the second, known
  // from the reply's head. Defaults 256 MiB and 16 MiB.
  void SetMaxFrameBytes(std::size_t bytes);
  void SetMaxNonFileFrameBytes(std::size_t bytes);
  static constexpr std::size_t kDefaultMaxFrameBytes = std::size_t{256} << 20;
  static constexpr std::size_t kDefaultMaxNonFileFrameBytes = std::size_t{16} << 20;

  // How much of the reply being received has arrived, in octets as received. `expected` is the
  // whole reply's size once its head states it (a file's content), else 0; it is never below
  // `received`, and equals it once the reply is complete.
  struct ReplyProgress {
    std::size_t received = 0;
    std::size_t expected = 0;
  };
  ReplyProgress CurrentReplyProgress() const;
  // Called on the module's thread after each piece of a reply has arrived, before the reply is
  // handled; one call per piece received, cheap enough to leave on. Exceptions are ignored.
  // Empty removes it.
  void OnReplyProgress(std::function<void(const ReplyProgress&)> fn);

 private:
  friend struct detail::ModuleAccess;
  std::shared_ptr<detail::ModuleState> state_;
};

// Values of the NeueDatei event.
struct NeueDateiEvent {
  int32_t DateiNummer = 0;
  std::string DateiName;
  std::string Typ;
  std::string VonDatum;
  std::string BisDatum;
  int32_t AnzeigeDauer = 0;
  int32_t Wichtigkeit = 0;
  std::string Titel;
  std::string URL;
  std::string Datei;
};

// The component's one creatable class. Create it, SetSocket, SetCallback, set Modus, Send, then
// read Fehler (or Outcome), Aktien, Tagesgeld and Festgeld.
// Held by shared_ptr; every instance of a Module shares that module's state. Use it on the
// module's thread only, except PostCancelSend.
class VEXCOMM_EXPORT VexComm : public automation::DispatchObject<VexComm>,
                               public std::enable_shared_from_this<VexComm> {
 public:
  static constexpr std::string_view kTypeName = "VexComm";
  static const std::vector<automation::Member<VexComm>>& Members();
  static std::span<const std::string_view> InterfaceIds();

  // Event dispatch ids of the event interface.
  static constexpr automation::DispId kEventNochAufServer = 1;
  static constexpr automation::DispId kEventDelete = 2;
  static constexpr automation::DispId kEventNeueDatei = 3;
  // Raised to the typed handlers only (OnSkippedFile); not part of the event interface.
  static constexpr automation::DispId kEventSkippedFile = 0x7FFF0001;

  static std::shared_ptr<VexComm> Create(Module& module = Module::Process());
  ~VexComm() override;

  std::shared_ptr<colAktien> Aktien() const;
  std::shared_ptr<clsFehler> Fehler() const;
  // How the last Send ended, beside Fehler: one kind per way, the detail, the server's error and
  // the message boxes shown. Shared like Fehler; reset when a Send starts.
  std::shared_ptr<RunOutcome> Outcome() const;
  int32_t Modus() const;
  void SetModus(vexCommModus modus);
  std::shared_ptr<clsTagesgeld> Tagesgeld() const;
  // Cancels the running Send (or closes a session that is not running); never fails.
  void CancelSend() noexcept;
  // Runs the operation chosen by Modus to its end; returns false (true never: see Fehler). A
  // Send called while a Send of this module runs is refused: it returns false at once.
  bool Send();
  void SetCallback(std::shared_ptr<automation::Dispatch> obj);
  // Error 13 when obj is not a socket of the VexProxySocket5 role; empty removes the socket.
  void SetSocket(std::shared_ptr<automation::Dispatch> obj);
  std::shared_ptr<clsTagesgeld> Festgeld() const;
  std::string LogSupport() const;
  void SetLogSupport(std::string text);
  void SetLogDatum(std::string text);
  void SetLogText(std::string text);

  // Thread-safe: cancels the running Send from another thread.
  void PostCancelSend();

  // Inside a NeueDatei or Delete handler: the host could not take this file. The run ends after
  // the handler, DateiNr stays before the file so the next run fetches it again. A typed handler
  // that throws refuses its file the same way, with the exception's text as the reason.
  void RefuseFile(std::string reason);

  // Events: Dispatch sinks are invoked by the dispatch ids above and hear every run of the module
  // on its first instance only; typed handlers hear the runs of their own instance (the one
  // whose Send runs, or whose CancelSend closes). Handlers run synchronously inside Send.
  automation::EventSource& Events() { return events_; }
  automation::EventSource::Cookie OnNeueDatei(std::function<void(const NeueDateiEvent&)> fn);
  automation::EventSource::Cookie OnDelete(std::function<void(const automation::VariantArray&)> fn);
  automation::EventSource::Cookie OnNochAufServer(std::function<void(int32_t)> fn);
  // A file reply whose content could not be found: counted (DateiNr moves past it) but no
  // NeueDatei. For C++ hosts only; late-bound sinks are not told.
  automation::EventSource::Cookie OnSkippedFile(
      std::function<void(int32_t nummer, const std::string& name)> fn);

 private:
  VEXCOMM_NO_EXPORT explicit VexComm(std::shared_ptr<detail::ModuleState> state);

  std::shared_ptr<detail::ModuleState> state_;
  automation::EventSource events_;
};

// Creates an object of the component by ProgID ("VexComm5.VexComm", "VexComm5.colAktien", ...)
// in the process-wide module; error 429 for an unknown ProgID.
VEXCOMM_EXPORT std::shared_ptr<automation::Dispatch> CreateObject(std::string_view prog_id);

}  // namespace vexcomm
