// The host-language example must at least compile in the open host.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/mar345_writer.h"
#include "support/run_command.h"
#include "support/test_files.h"

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

// Before the module is needed, the program reads the header's geometry as
// vokip-reduce does, and names the keyword for what the header lacks.
TEST(ExampleProgram, MissingGeometryIsNamedNotGuessed) {
  if (std::system("command -v gdl >/dev/null 2>&1") != 0) GTEST_SKIP() << "gdl is not installed";
  vokip::TempDir dir;
  vokip::Mar345Contents c = vokip::small_contents(16, std::vector<std::uint16_t>(256, 5));
  c.pixel_um.reset();
  c.center_x_px.reset();
  c.center_y_px.reset();
  const std::string file = dir.file("bare.mar1200");
  vokip::write_bytes(file, vokip::write_mar345(c));
  const std::string examples = std::string(VOKIP_SOURCE_DIR) + "/examples";
  auto run = [&](const std::string& keywords) {
    return run_command("cd /tmp && gdl -quiet -e \"!PATH='" + examples + ":'+!PATH & reduce, '" +
                       file + "', '" + dir.file("out.xy") + "'" + keywords + "\" 2>&1");
  };
  std::string out = run("");
  EXPECT_NE(out.find("no pixel size in the header; give PIXEL=micrometres"), std::string::npos)
      << out;
  out = run(", pixel=150d");
  EXPECT_NE(out.find("no beam centre in the header; give XC= and YC= (pixels)"), std::string::npos)
      << out;
  // With both given it goes on to the module, which this host cannot load.
  out = run(", pixel=150d, xc=8d, yc=8d");
  EXPECT_EQ(out.find("no beam centre"), std::string::npos) << out;
  EXPECT_EQ(out.find("no pixel size"), std::string::npos) << out;
}

}  // namespace
