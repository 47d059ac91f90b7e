#include <array>
#include <utility>

#include <vexcomm/outcome.h>

#include "automation/member_table.h"
#include "services/run_state.h"

namespace vexcomm {

namespace {

// Indexed by the kind's number: the names a script may match on never change.
constexpr std::array<std::string_view, 16> kOutcomeNames = {
    "ok",
    "nothing_new",
    "cancelled",
    "network_refused",
    "network_unreachable",
    "network_timeout",
    "network_closed",
    "certificate_refused",
    "proxy_refused",
    "proxy_credentials",
    "server_error",
    "stuck_run",
    "local_store_quote_database",
    "local_store_registry",
    "local_store_file_refused",
    "invalid_reply",
};

bool IsLocalStore(OutcomeKind kind) {
  return kind == OutcomeKind::kQuoteDatabase || kind == OutcomeKind::kRegistryStore ||
         kind == OutcomeKind::kFileRefused;
}

}  // namespace

std::string_view OutcomeName(OutcomeKind kind) noexcept {
  const auto index = static_cast<std::size_t>(kind);
  return index < kOutcomeNames.size() ? kOutcomeNames[index] : "unknown";
}

const std::vector<automation::Member<RunOutcome>>& RunOutcome::Members() {
  static const std::vector<automation::Member<RunOutcome>> members =
      automation::MemberTable<RunOutcome>()
          .Get("Kind", 0x40030000, [](RunOutcome& o) { return static_cast<int32_t>(o.kind); })
          .Get("Name", 0x40030001, [](RunOutcome& o) { return o.name(); })
          .Get("Detail", 0x40030002, [](RunOutcome& o) { return o.detail; })
          .Get("ServerNumber", 0x40030003, [](RunOutcome& o) { return o.server_number; })
          .Get("ServerText", 0x40030004, [](RunOutcome& o) { return o.server_text; })
          .Get("MessageBoxes", 0x40030005,
               [](RunOutcome& o) {
                 automation::VariantArray boxes;
                 for (const auto& box : o.message_boxes) {
                   boxes.emplace_back(automation::VariantArray{box.title, box.text});
                 }
                 return automation::Variant(std::move(boxes));
               })
          .Build();
  return members;
}

namespace services {

void SetOutcome(RunState& state, OutcomeKind kind, std::string detail) {
  if (!state.outcome) return;
  RunOutcome& outcome = *state.outcome;
  // The first failure is the cause, and what follows from it stays unsaid; but a store that
  // failed costs the user more than a broken connection (the files come again next time), so it
  // is told unless the user cancelled.
  const bool replaces =
      outcome.ok() ? kind != OutcomeKind::kOk &&
                         (kind != OutcomeKind::kNothingNew || outcome.kind == OutcomeKind::kOk)
                   : IsLocalStore(kind) && !IsLocalStore(outcome.kind) &&
                         outcome.kind != OutcomeKind::kCancelled;
  if (!replaces) return;
  outcome.kind = kind;
  outcome.detail = std::move(detail);
}

void ResetOutcome(RunState& state) {
  if (!state.outcome) return;
  RunOutcome& outcome = *state.outcome;
  outcome.kind = OutcomeKind::kOk;
  outcome.detail.clear();
  outcome.server_number = 0;
  outcome.server_text.clear();
  outcome.message_boxes.clear();
}

void RecordMessageBox(RunState& state, std::string_view title, std::string_view text) {
  if (!state.outcome || state.outcome->message_boxes.size() >= RunOutcome::kMostMessageBoxes) {
    return;
  }
  state.outcome->message_boxes.push_back({std::string(title), std::string(text)});
}

}  // namespace services

}  // namespace vexcomm
