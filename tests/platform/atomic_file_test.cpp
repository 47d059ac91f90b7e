#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include <vexcomm/file_replace.h>

#include "support/temp_dir.h"

namespace vexcomm {
namespace {

std::optional<std::string> Content(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The name holds the old file or the whole new one, with the mode asked for, and nothing of the
// write stays beside it.
TEST(AtomicFileTest, TheNameHoldsTheOldFileOrTheWholeNewOne) {
  using Placement = AtomicFile::Placement;
  struct Case {
    const char* what;
    std::optional<std::string> before;  // none: no file there
    Placement placement;
    bool commit;
    int result;
    std::optional<std::string> after;
    unsigned mode;
  } const cases[] = {
      {"replaced", "alt", Placement::kReplace, true, 0, "neu:1\n", 0600},
      {"made", std::nullopt, Placement::kReplace, true, 0, "neu:1\n", 0644},
      {"made where none is", std::nullopt, Placement::kIfAbsent, true, 0, "neu:1\n", 0600},
      {"kept where one is", "alt", Placement::kIfAbsent, true, EEXIST, "alt", 0},
      {"not committed", "alt", Placement::kReplace, false, 0, "alt", 0},
      {"not committed, none there", std::nullopt, Placement::kReplace, false, 0, std::nullopt, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir tmp;
    const auto file = tmp.path() / "Kurse.csv";
    if (c.before) std::ofstream(file, std::ios::binary) << *c.before;
    {
      AtomicFile out(file, c.placement, ".part-XXXXXX", c.mode ? c.mode : 0600);
      ASSERT_EQ(out.error(), 0);
      EXPECT_TRUE(out.Write("neu:"));
      EXPECT_TRUE(out.Write("1\n"));
      EXPECT_EQ(Content(file), c.before) << "seen before the commit";
      if (c.commit) {
        EXPECT_EQ(out.Commit(), c.result);
      }
    }
    EXPECT_EQ(Content(file), c.after);
    struct stat st {};
    if (c.mode) {
      ASSERT_EQ(::stat(file.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, c.mode);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), c.after ? 1 : 0);
  }
}

}  // namespace
}  // namespace vexcomm
