// The host-language example must at least compile in the open host.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/run_command.h"

namespace {

TEST(ExampleProgram, ReduceCompilesInTheOpenHost) {
  if (std::system("command -v gdl >/dev/null 2>&1") != 0) GTEST_SKIP() << "gdl is not installed";
  const std::string examples = std::string(VOKIP_SOURCE_DIR) + "/examples";
  const std::string out =
      run_command("cd /tmp && gdl -quiet -e \"!PATH='" + examples +
                  ":'+!PATH & resolve_routine, 'reduce' & print, 'compiled-ok'\" 2>&1");
  EXPECT_NE(out.find("Compiled module: REDUCE."), std::string::npos) << out;
  EXPECT_NE(out.find("compiled-ok"), std::string::npos) << out;
  // The host's own complaints start with "% " (a display warning does not count).
  std::size_t at = 0;
  while ((at = out.find("% ", at)) != std::string::npos) {
    const std::string line = out.substr(at, out.find('\n', at) - at);
    EXPECT_EQ(line.find("rror"), std::string::npos) << line;
    at += 2;
  }
}

}  // namespace
