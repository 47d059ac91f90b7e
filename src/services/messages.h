#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "services/run_state.h"

namespace vexcomm::services {

// Request builders and reply handlers of the message and file fetch.
void SendeAKNEW(RunState& state);
void SendeAKGET(RunState& state);
void VerarbeiteAINEW(RunState& state);
void VerarbeiteDatei(RunState& state);

// The values of a NeueDatei event, read from an AIGET reply in the element list. Empty when
// element 13 holds no length-prefixed content (no event for that file).
struct NeueDateiValues {
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
std::optional<NeueDateiValues> ReadNeueDatei(const transport::clsElement& elements);
// The same, moving the content out of the element list instead of copying it (the relay's way:
// a large file is not held twice).
std::optional<NeueDateiValues> TakeNeueDatei(transport::clsElement& elements);

// "Hole Nachricht 1 von 3": numbers in the form with a leading blank for zero and positives.
std::string NumberWithSign(int32_t value);

}  // namespace vexcomm::services
