#include "docs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "child_process.h"
#include "command_line.h"
#include "support/temp_dir.h"

namespace vexcomm::test {
namespace {

// What the completion offers for the last of `words`, asked of a real bash.
std::vector<std::string> Complete(const std::filesystem::path& script,
                                  const std::vector<std::string>& words) {
  std::string line = "source '" + script.string() + "'; COMP_WORDS=(vexcomm";
  for (const auto& w : words) line += " '" + w + "'";
  line += "); COMP_CWORD=" + std::to_string(words.size()) +
          "; _vexcomm; printf '%s\\n' \"${COMPREPLY[@]}\"";
  ChildProcess bash("/bin/bash", {"-c", line});
  std::vector<std::string> offered;
  if (bash.Finish(std::chrono::seconds(30)) != 0) return offered;
  std::istringstream out(bash.out());
  for (std::string word; std::getline(out, word);) offered.push_back(word);
  return offered;
}

TEST(Docs, ManPageAndCompletionKnowEveryCommandAndOption) {
  using ::testing::Contains;
  using ::testing::HasSubstr;
  TempDir tmp;
  const auto script = tmp.WriteFile("vexcomm.bash", cli::BashCompletion());
  const std::string man = cli::ManPage("9.9.9");
  EXPECT_THAT(man, HasSubstr("\"vexcomm 9.9.9\""));
  for (const auto& c : cli::Commands()) {
    const auto roff = [](std::string_view text) {
      std::string escaped;
      for (char ch : text) escaped += ch == '-' ? std::string("\\-") : std::string(1, ch);
      return escaped;
    };
    EXPECT_NE(man.find(c.arguments.empty() ? "\n.B " + roff(c.name) + "\n"
                                           : "\n.BI \"" + roff(c.name) + " \""),
              std::string::npos)
        << c.name;
    std::vector<std::string> words;
    std::istringstream name{std::string(c.name)};
    for (std::string w; name >> w;) words.push_back(w);
    // The last word from its first letter, after the group and a global option with its value.
    std::vector<std::string> typed = {"--out", "x"};
    typed.insert(typed.end(), words.begin(), words.end() - 1);
    typed.push_back(words.back().substr(0, 1));
    EXPECT_THAT(Complete(script, typed), Contains(words.back())) << c.name;
    for (const auto& o : c.options) {
      EXPECT_NE(man.find(roff(o.name)), std::string::npos) << c.name << " " << o.name;
      std::vector<std::string> asked = words;
      asked.push_back("--");
      EXPECT_THAT(Complete(script, asked), Contains(std::string(o.name))) << c.name;
    }
  }
  for (const auto* section : {"\n.SH EXIT STATUS\n.TP\n.B 0\n", "\n.SH JSON\n", "\n.SH EXAMPLES\n",
                              "\n.BI \"\\-\\-out \" \"FILE\"\nthe chart to write"}) {
    EXPECT_THAT(man, HasSubstr(section));
  }
  // A chart's --out is a file, a name with blanks one word, and run takes operation codes.
  const auto chart = tmp.WriteFile("a chart.svg", "");
  EXPECT_THAT(Complete(script, {"db", "chart", "--out", (tmp.path() / "a ").string()}),
              Contains(chart.string()));
  EXPECT_THAT(cli::BashCompletion(), HasSubstr("complete -o filenames -F _vexcomm vexcomm"));
  EXPECT_THAT(Complete(script, {"run", "1"}), Contains("13"));
}

// A text of the tables without its German line would show English amid German.
TEST(Docs, TheGermanCatalogueTranslatesEveryTableText) {
  std::ifstream po(std::string(VEXCOMM_SOURCE_DIR) + "/tools/vexcomm/po/de.po");
  ASSERT_TRUE(po) << "no catalogue";
  std::map<std::string, std::string> catalogue;
  std::string id;
  const auto unquote = [](std::string_view line, std::string_view key) {
    std::string text;
    for (std::size_t i = key.size() + 2; i + 1 < line.size(); ++i) {
      if (line[i] == '\\' && i + 2 < line.size()) {
        ++i;
        text += line[i] == 'n' ? '\n' : line[i];
      } else {
        text += line[i];
      }
    }
    return text;
  };
  for (std::string line; std::getline(po, line);) {
    if (line.starts_with("msgid ")) id = unquote(line, "msgid");
    if (line.starts_with("msgstr ")) catalogue[id] = unquote(line, "msgstr");
  }
  for (const auto& text : cli::TableTexts()) {
    EXPECT_FALSE(catalogue[text].empty()) << text;
  }
}

}  // namespace
}  // namespace vexcomm::test
