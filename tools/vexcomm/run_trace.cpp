#include "run_trace.h"

#include <string>

#include "messages.h"

namespace vexcomm::cli {
namespace {

// With --verbose the server's certificate and its key's pin are shown as the run meets them,
// so that a user can take the pin from a first run; the records go on to the trace file.
class VerboseTrace final : public TraceSink {
 public:
  VerboseTrace(std::shared_ptr<TraceSink> file, Output& output)
      : file_(std::move(file)), output_(output) {}

  void Record(const TraceRecord& record) override {
    if (record.type == TraceRecord::Type::kTls) {
      std::string subject, pin;
      for (const auto& f : record.fields) {
        if (f.name == "subject") subject = f.value;
        if (f.name == "pin_sha256") pin = f.value;
      }
      output_.Note(Fill(Tr("server certificate %1, public key pin %2"), {subject, pin}));
    }
    if (file_) file_->Record(record);
  }

 private:
  std::shared_ptr<TraceSink> file_;
  Output& output_;
};

}  // namespace

std::shared_ptr<TraceSink> OpenRunTrace(const GlobalOptions& global, Output& output) {
  if (!global.trace) {
    if (global.trace_unmasked) throw UsageError(Tr("--trace-unmasked needs --trace FILE"));
    if (global.verbose) return std::make_shared<VerboseTrace>(nullptr, output);
    return nullptr;
  }
  std::shared_ptr<TraceSink> sink;
  try {
    sink = OpenTraceFile(*global.trace);
  } catch (const std::exception& e) {
    throw UsageError(Fill(Tr("--trace: %1"), {e.what()}));
  }
  if (global.trace_unmasked) {
    output.Note(Fill(Tr("WARNING: --trace-unmasked: %1 holds the bank code, customer number, "
                        "names, e-mail and every text as sent. Keep it to yourself; for support, "
                        "trace without --trace-unmasked."),
                     {*global.trace}));
  }
  if (global.verbose) return std::make_shared<VerboseTrace>(std::move(sink), output);
  return sink;
}

}  // namespace vexcomm::cli
