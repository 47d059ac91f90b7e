#include "deposits/deposit_requests.h"

#include <initializer_list>
#include <memory>
#include <string>

#include <vexcomm/error.h>

#include "services/run_state.h"
#include "transport/frame.h"
#include "transport/reply_elements.h"

namespace vexcomm::deposits {

namespace element = transport::element;

namespace {

void SendEmptyRequest(services::RunState& state, std::string_view code, std::string_view log_text) {
  std::string frame = transport::BuildRequest(code, std::initializer_list<std::string_view>{});
  services::Log(state, log_text, {});
  services::SendRequest(state, frame);
}

void ProcessConditions(services::RunState& state, ConditionKind kind, std::string_view title) {
  try {
    // Held across the log line: the host's callback may re-enter the component.
    std::shared_ptr<transport::clsElement> elements = state.elements;
    std::shared_ptr<clsTagesgeld> root =
        kind == ConditionKind::Tagesgeld ? state.tagesgeld : state.festgeld;
    if (!elements || !root) Raise(errnum::kObjectNotSet);

    std::string datum = elements->Item(element::kOffersDate);
    services::Log(state, "Datum  : ", datum);
    // Cleared before the list is read: a reply without a usable list leaves the tree empty.
    root->Anbieter()->Clear();
    root->Datum = elements->Item(element::kOffersDate);
    // The tree keeps the list's text: its nodes read their texts from it.
    ParseConditionList(elements->Take(element::kOffersList), kind, *root->Anbieter());
  } catch (...) {
    // A bad list costs the rest of this reply only; the run goes on.
    services::ReplyNotProcessed(state, title);
  }
}

}  // namespace

void SendeAKTGA(services::RunState& state) {
  SendEmptyRequest(state, "AKTGA", "Tagesgeld-Konditionen abrufen");
}

void SendeAKFGA(services::RunState& state) {
  SendEmptyRequest(state, "AKFGA", "Festgeld-Konditionen abrufen");
}

void VerarbeiteAITGA(services::RunState& state) {
  ProcessConditions(state, ConditionKind::Tagesgeld, "VerarbeiteAITGA");
}

void VerarbeiteAIFGA(services::RunState& state) {
  ProcessConditions(state, ConditionKind::Festgeld, "VerarbeiteAIFGA");
}

}  // namespace vexcomm::deposits
