#include "vexmsg-server/lib/replay.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include <vexcomm/text.h>
#include <vexcomm/trace.h>

namespace vexmsg {

namespace {

using nlohmann::json;

constexpr std::size_t kShown = 80;  // characters of an element in a divergence note

std::string Shown(std::string_view cp1252) {
  std::string text = vexcomm::Cp1252ToUtf8(cp1252.substr(0, kShown));
  if (cp1252.size() > kShown) text += "...";
  return text;
}

// The file content the trace masked, as long as it was: its recorded ends around filler.
std::string Filler(const json& mask) {
  const std::size_t length = mask.value("length", std::size_t{0});
  const std::string first = vexcomm::Utf8ToCp1252(mask.value("first", ""));
  const std::string last = vexcomm::Utf8ToCp1252(mask.value("last", ""));
  std::string content = first.substr(0, length);
  if (content.size() + last.size() <= length) {
    content.append(length - content.size() - last.size(), '.');
    content += last;
  } else {
    content.append(length - content.size(), '.');
  }
  return "@" + std::to_string(length) + "@" + content;
}

// A recorded reply with every masked file content regenerated; UTF-8.
std::string Regenerate(const std::string& frame, const json& masks) {
  std::string wire = vexcomm::Utf8ToCp1252(frame);
  // From the last element to the first, so earlier offsets stay valid.
  std::vector<std::pair<int, std::string>> contents;
  for (const auto& m : masks) {
    if (m.value("kind", "") == "file") contents.emplace_back(m.value("element", 0), Filler(m));
  }
  std::sort(contents.begin(), contents.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& [element, content] : contents) {
    const auto elements = SplitElements(wire);
    if (element < 1 || static_cast<std::size_t>(element) > elements.size()) continue;
    const auto& e = elements[static_cast<std::size_t>(element) - 1];
    wire.replace(static_cast<std::size_t>(e.data() - wire.data()), e.size(), content);
  }
  return vexcomm::Cp1252ToUtf8(wire);
}

}  // namespace

std::shared_ptr<Replay> Replay::Parse(std::string_view json_lines) {
  auto replay = std::make_shared<Replay>();
  std::istringstream in{std::string(json_lines)};
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty()) continue;
    const json record = json::parse(line, nullptr, false);
    const auto where = "trace line " + std::to_string(number);
    if (record.is_discarded() || !record.is_object())
      throw std::runtime_error(where + ": not JSON");
    if (number == 1 && record.value("schema", "") != vexcomm::kTraceSchema) {
      throw std::runtime_error(where + ": not a trace of schema " +
                               std::string(vexcomm::kTraceSchema));
    }
    const std::string type = record.value("type", "");
    const std::string frame = record.value("frame", "");
    const json masks = record.value("masks", json::array());
    if (type == "sent") {
      Step step;
      step.request = vexcomm::Utf8ToCp1252(frame);
      for (const auto& m : masks) step.masked.push_back(m.value("element", 0));
      replay->steps_.push_back(std::move(step));
    } else if (type == "received" && !replay->steps_.empty()) {
      replay->steps_.back().replies.push_back(Regenerate(frame, masks));
    }
  }
  return replay;
}

std::shared_ptr<Replay> Replay::Load(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the trace " + file.string());
  std::ostringstream text;
  text << in.rdbuf();
  return Parse(text.str());
}

Replay::Answer Replay::Next(const RequestFrame& request) {
  std::lock_guard lock(mutex_);
  Answer answer;
  const std::size_t number = ++next_;
  const std::string place = "request " + std::to_string(number) + " (" + request.code + ")";
  if (number > steps_.size()) {
    answer.close = true;
    answer.divergence = place + ": the trace has " + std::to_string(steps_.size()) + " requests";
    divergences_.push_back(answer.divergence);
    return answer;
  }
  const Step& step = steps_[number - 1];
  const auto got = SplitElements(request.wire);
  const auto want = SplitElements(step.request);
  if (got.size() != want.size()) {
    answer.divergence = place + ": " + std::to_string(got.size()) + " elements, the trace has " +
                        std::to_string(want.size()) + ": «" + Shown(step.request) + "»";
  } else {
    for (std::size_t i = 0; i < got.size(); ++i) {
      const int element = static_cast<int>(i) + 1;
      if (got[i] == want[i] ||
          std::find(step.masked.begin(), step.masked.end(), element) != step.masked.end()) {
        continue;
      }
      answer.divergence = place + ": element " + std::to_string(element) + " is «" + Shown(got[i]) +
                          "», the trace has «" + Shown(want[i]) + "»";
      break;
    }
  }
  if (!answer.divergence.empty()) divergences_.push_back(answer.divergence);
  for (const auto& reply : step.replies) answer.replies += reply;
  answer.close = step.replies.empty();
  return answer;
}

std::vector<std::string> Replay::Divergences() const {
  std::lock_guard lock(mutex_);
  return divergences_;
}

std::size_t Replay::Remaining() const {
  std::lock_guard lock(mutex_);
  return steps_.size() - std::min(next_, steps_.size());
}

}  // namespace vexmsg
