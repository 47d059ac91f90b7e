// Receiving a 50 MB file frame in 16 KB chunks, against copying the same bytes: the assembler
// must stay within a small factor of the copy floor.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "platform/cp1252.h"
#include "transport/cls_element.h"
#include "transport/frame.h"

namespace {

constexpr std::size_t kContentSize = 50u << 20;
constexpr std::size_t kChunk = 16u << 10;

const std::string& FileFrame() {
  static const std::string frame = [] {
    std::string content(kContentSize, 'x');
    // Separators and end marks inside the content, as a text file may have them.
    for (std::size_t i = 0; i + 7 < content.size(); i += 997) content.replace(i, 7, ":MSGEND");
    return "VEXMSG:2:AIGET:1:f.txt:T:a:b:1:2:t:u:" + vexcomm::transport::LengthPrefixed(content) +
           ":2:MSGEND";
  }();
  return frame;
}

void BM_FrameAssembler(benchmark::State& state) {
  const std::string& frame = FileFrame();
  for (auto _ : state) {
    vexcomm::transport::FrameAssembler assembler;
    bool complete = false;
    for (std::size_t pos = 0; pos < frame.size(); pos += kChunk) {
      complete = assembler.Append(std::string_view(frame).substr(pos, kChunk));
    }
    if (!complete) state.SkipWithError("frame not complete");
    benchmark::DoNotOptimize(assembler.text().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(BM_FrameAssembler)->Unit(benchmark::kMillisecond);

// The floor: appending the chunks to a growing string, nothing examined.
void BM_CopyFloor(benchmark::State& state) {
  const std::string& frame = FileFrame();
  for (auto _ : state) {
    std::string text;
    for (std::size_t pos = 0; pos < frame.size(); pos += kChunk) {
      text.append(std::string_view(frame).substr(pos, kChunk));
    }
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(BM_CopyFloor)->Unit(benchmark::kMillisecond);

void BM_SplitFileFrame(benchmark::State& state) {
  const std::string& frame = FileFrame();
  vexcomm::transport::clsElement list;
  for (auto _ : state) {
    vexcomm::transport::SplitElements(frame, list, true);
    benchmark::DoNotOptimize(list.Count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(BM_SplitFileFrame)->Unit(benchmark::kMillisecond);

// A received file's octets made back from its text (NeueDateiEvent::DateiOctets, vexcomm saving
// a file): German text, two non-ASCII characters a line, into a buffer made once.
void BM_FileOctets(benchmark::State& state) {
  static const std::string text = [] {
    std::string t;
    while (t.size() < kContentSize)
      t += "Kontoumsätze vom 01.12.2026: Überweisung 1.234,56 EUR\r\n";
    return t;
  }();
  std::string octets(text.size(), '\0');
  for (auto _ : state) {
    benchmark::DoNotOptimize(vexcomm::platform::Utf8ToCp1252(text, octets.data()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_FileOctets)->Unit(benchmark::kMillisecond);

}  // namespace
