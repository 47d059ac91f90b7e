// The receive path without a socket: wire bytes cut into random chunks, converted as the
// socket converts them, collected into frames, split and handled by the real reply handlers
// on a run state with stocks and deposit trees.
//
// Input: flags, maximum chunk length, two bytes of chunking seed, then the wire bytes.
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>

#include <vexcomm/deposits.h>
#include <vexcomm/quotes.h>

#include "component/module_state.h"
#include "fuzz_check.h"
#include "platform/cp1252.h"
#include "services/messages.h"
#include "services/reply_dispatcher.h"
#include "services/run_state.h"
#include "transport/cls_element.h"
#include "transport/frame.h"
#include "transport/reply_elements.h"

namespace {

using namespace vexcomm;

// The operation at the current step decides what AIERR does to the stock position.
constexpr int32_t kEntries[] = {2, 3, 13, 14, 16, 17, 18, 6};

struct Harness : services::RunDriver {
  explicit Harness(std::uint8_t flags) {
    auto& s = state;
    s.driver = this;
    s.elements = std::make_shared<transport::clsElement>();
    s.fehler = std::make_shared<clsFehler>();
    s.aktien = std::make_shared<colAktien>();
    s.tagesgeld = clsTagesgeld::Create();
    s.festgeld = clsTagesgeld::Create();
    s.callback = automation::MakeCallback([this](int16_t, const std::string&) { ++reports; });
    s.host.message_box = [this](const std::string&, const std::string&) { ++boxes; };
    s.operations = {0, kEntries[flags & 7], 6, 0, 0, 0, 0};
    s.step = 1;
    s.session_done = false;
    s.progress_total = 4;
    for (int i = 1; i <= 3; ++i) {
      auto stock = s.aktien->Add("W" + std::to_string(i), "I", "N");
      stock->KursAdd("01.01.2024", "1,0");
    }
    s.cursor.SetStockPosition(*s.aktien, (flags >> 3) & 3);
  }

  virtual ~Harness() = default;
  void SendFrame(const std::string&) override { ++sent; }
  // The event the handler built: its content taken from the element, not copied.
  void RaiseNeueDatei(NeueDateiEvent&) override {
    FUZZ_CHECK(state.elements->Item(13).empty());
    ++files;
  }
  // The number the order names is the reply's own.
  void RaiseDelete(const std::string& nummer) override {
    FUZZ_CHECK(nummer == state.elements->Item(14));
    delete_ref = nummer;
  }
  void RaiseSkippedFile(int32_t, const std::string&) override {}
  void EndSession() override { state.session_done = true; }

  services::RunState state;
  int reports = 0;
  int boxes = 0;
  int sent = 0;
  int files = 0;
  std::string delete_ref;
};

std::string Join(const transport::clsElement& elements) {
  std::string out;
  for (int32_t i = 1; i <= elements.Count(); ++i) {
    if (i > 1) out += ':';
    out += elements.Item(i);
  }
  return out;
}

void Handle(Harness& h, const std::string& frame) {
  transport::clsElement reference;
  transport::SplitElements(frame, reference, true);
  // As the session hands a frame on: one of its elements may take over its buffer.
  const int files_before = h.files;
  services::DispatchReceivedFrame(h.state, std::string(frame), component::ReplyHandlers());
  // A file event takes the content out of element 13 (checked by the handler).
  const bool content_taken = h.files != files_before;
  // An offers reply's tree keeps the list's text, taken out of its element.
  const bool offers = reference.Item(3) == "AITGA" || reference.Item(3) == "AIFGA";
  const auto taken = [&](int32_t i) {
    return (content_taken && i == transport::element::kFileContent) ||
           (offers && i == transport::element::kOffersList);
  };
  const auto& elements = *h.state.elements;
  FUZZ_CHECK(elements.Count() == reference.Count());
  for (int32_t i = 1; i <= reference.Count(); ++i) {
    FUZZ_CHECK(elements.Item(i) == reference.Item(i) || taken(i));
  }
  // Without length-prefixed elements the elements are the frame cut at every ":".
  if (frame.find('@') == std::string::npos && !content_taken && !offers) {
    FUZZ_CHECK(Join(elements) == frame);
  }
  FUZZ_CHECK(elements.Item(elements.Count() + 1).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::uint8_t flags = data[0];
  const unsigned max_chunk = 1u + data[1];
  std::minstd_rand chunking(1u + data[2] + (unsigned{data[3]} << 8));
  const bool as_wire = (flags & 0x20) == 0;  // else the text goes in unconverted
  const std::string_view input = vexcomm::fuzz::AsText(data + 4, size - 4);

  Harness h(flags);
  transport::FrameAssembler assembler;
  std::string received;  // everything handed to the assembler
  std::string handed_on;
  std::size_t pos = 0;
  while (pos < input.size()) {
    const std::size_t n = std::min<std::size_t>(input.size() - pos, 1 + chunking() % max_chunk);
    const std::string chunk =
        as_wire ? platform::Cp1252ToUtf8(input.substr(pos, n)) : std::string(input.substr(pos, n));
    pos += n;
    received += chunk;
    if (!assembler.Append(chunk)) continue;
    std::string frame = assembler.Take();
    FUZZ_CHECK(frame.ends_with(":MSGEND"));
    // Completeness must not depend on where the chunks were cut.
    transport::FrameAssembler whole;
    FUZZ_CHECK(whole.Append(frame));
    handed_on += frame;
    Handle(h, frame);
  }
  FUZZ_CHECK(!assembler.complete());
  transport::FrameAssembler rest;
  FUZZ_CHECK(!rest.Append(assembler.text()));
  FUZZ_CHECK(handed_on + assembler.text() == received);
  return 0;
}
