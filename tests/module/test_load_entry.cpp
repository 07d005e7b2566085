// Loading the module as the host does: from its folder, by its description
// file, through IDL_Load, then calls by name.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <set>
#include <sstream>
#include <string>

#include "host/host.h"
#include "support/run_command.h"
#include "vokip_version.h"

namespace {

using vokip_host::Mode;

const std::vector<vokip_host::RegisteredRoutine> kExpectedRecords = {
    {"AZIMUTHIMAGEPLATE", 3, 3}, {"DISTORTIMAGEPLATE", 6, 6}, {"UNPCK", 2, 2},
    {"INTEGRATE", 6, 6},         {"INTEGRATE_MEDIAN", 6, 6},
};

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class LoadEntry : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override { vokip_host::reset(GetParam()); }
};

TEST_P(LoadEntry, RegistersAllFiveInOrderAndAllAreCallable) {
  ASSERT_TRUE(vokip_host::load_module(VOKIP_MODULE_DIR));
  EXPECT_EQ(vokip_host::ensure_loaded(), 1);
  EXPECT_EQ(vokip_host::load_calls(), 1);
  const auto records = vokip_host::registered();
  ASSERT_EQ(records.size(), kExpectedRecords.size());
  for (std::size_t k = 0; k < records.size(); ++k) {
    EXPECT_EQ(records[k].name, kExpectedRecords[k].name);
    EXPECT_EQ(records[k].arg_min, kExpectedRecords[k].arg_min);
    EXPECT_EQ(records[k].arg_max, kExpectedRecords[k].arg_max);
  }
  // A call of each, with throw-away arguments of the right count, reaches the module.
  IDL_VPTR x = vokip_host::make_array_from(IDL_TYP_DOUBLE, {1, 2});
  IDL_VPTR out = vokip_host::make_array(IDL_TYP_DOUBLE, {2});
  IDL_VPTR img = vokip_host::make_array(IDL_TYP_UINT, {1});
  IDL_VPTR d = vokip_host::make_scalar(IDL_TYP_DOUBLE, 1);
  EXPECT_TRUE(vokip_host::call("AZIMUTHIMAGEPLATE", {x, x, out}));
  EXPECT_TRUE(vokip_host::call("DISTORTIMAGEPLATE", {d, d, d, x, x, out}));
  EXPECT_TRUE(vokip_host::call("UNPCK", {vokip_host::make_bytes({0}), img}));
  EXPECT_TRUE(vokip_host::call("INTEGRATE", {x, x, x, out, out, out}));
  EXPECT_TRUE(vokip_host::call("INTEGRATE_MEDIAN", {x, x, x, out, out, out}));
  EXPECT_EQ(vokip_host::load_calls(), 1) << "IDL_Load runs once";
}

TEST_P(LoadEntry, RefusedMessageBlockRegistersNothing) {
  vokip_host::refuse_message_block(true);
  ASSERT_TRUE(vokip_host::load_module(VOKIP_MODULE_DIR));
  EXPECT_EQ(vokip_host::ensure_loaded(), 0);
  EXPECT_TRUE(vokip_host::registered().empty());
  EXPECT_EQ(vokip_host::registration_attempts(), 0);
}

TEST_P(LoadEntry, RefusedThirdRecordKeepsTheFirstTwoAndOffersNoMore) {
  vokip_host::refuse_registration(3);
  ASSERT_TRUE(vokip_host::load_module(VOKIP_MODULE_DIR));
  EXPECT_EQ(vokip_host::ensure_loaded(), 0);
  EXPECT_EQ(vokip_host::registration_attempts(), 3);
  if (GetParam() == Mode::idl) {
    const auto records = vokip_host::registered();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].name, "AZIMUTHIMAGEPLATE");
    EXPECT_EQ(records[1].name, "DISTORTIMAGEPLATE");
  } else {
    // The open host defines none of a module's routines when IDL_Load fails.
    EXPECT_TRUE(vokip_host::registered().empty());
  }
}

TEST_P(LoadEntry, WrongArgumentCountIsRefusedBeforeTheModuleRuns) {
  ASSERT_TRUE(vokip_host::load_module(VOKIP_MODULE_DIR));
  IDL_VPTR img = vokip_host::make_array(IDL_TYP_UINT, {4});
  vokip_host::clear_printed();
  EXPECT_FALSE(vokip_host::call("UNPCK", {img}));
  EXPECT_FALSE(vokip_host::call("AZIMUTHIMAGEPLATE", {img, img, img, img}));
  ASSERT_EQ(vokip_host::printed().size(), 2u);
  EXPECT_EQ(vokip_host::printed()[0], "% UNPCK: Incorrect number of arguments.");
  EXPECT_EQ(vokip_host::printed()[1], "% AZIMUTHIMAGEPLATE: Incorrect number of arguments.");
}

TEST_P(LoadEntry, DescriptionFileAgreesWithTheRecords) {
  const auto dlm =
      vokip_host::parse_dlm(read_file(std::string(VOKIP_MODULE_DIR) + "/vokip.dlm"), GetParam());
  ASSERT_EQ(dlm.error, "");
  EXPECT_EQ(dlm.module, "vokip");
  ASSERT_EQ(dlm.routines.size(), kExpectedRecords.size());
  for (std::size_t k = 0; k < kExpectedRecords.size(); ++k) {
    EXPECT_EQ(dlm.routines[k].name, kExpectedRecords[k].name);
    EXPECT_EQ(dlm.routines[k].arg_min, kExpectedRecords[k].arg_min);
    EXPECT_EQ(dlm.routines[k].arg_max, kExpectedRecords[k].arg_max);
    EXPECT_FALSE(dlm.routines[k].is_function);
  }
}

INSTANTIATE_TEST_SUITE_P(BothHosts, LoadEntry, ::testing::Values(Mode::idl, Mode::open),
                         [](const auto& info) { return info.param == Mode::idl ? "idl" : "open"; });

TEST(DescriptionFile, CarriesTheProjectVersionAndItsBuildDate) {
  const std::string dlm = read_file(std::string(VOKIP_MODULE_DIR) + "/vokip.dlm");
  EXPECT_NE(dlm.find(std::string("\nVERSION ") + kVokipVersion + "\n"), std::string::npos) << dlm;
  const std::size_t at = dlm.find("\nBUILD_DATE ");
  ASSERT_NE(at, std::string::npos) << dlm;
  const std::string date = dlm.substr(at + 12, dlm.find('\n', at + 1) - at - 12);
  std::tm parsed{};
  std::istringstream in(date);
  in >> std::get_time(&parsed, "%Y-%m-%d");
  ASSERT_FALSE(in.fail()) << date;
  EXPECT_GE(parsed.tm_year + 1900, 2026) << date;
  const std::time_t now = std::time(nullptr);
  EXPECT_LE(std::mktime(&parsed), now) << "built in the future: " << date;
}

TEST(DescriptionFile, UpperCaseKeywordsOnlyAtTheStartOfTheirOwnLines) {
  const std::string dlm = read_file(std::string(VOKIP_MODULE_DIR) + "/vokip.dlm");
  ASSERT_NE(dlm.find("MODULE vokip\n"), std::string::npos) << dlm;
  std::istringstream lines(dlm);
  std::string line;
  while (std::getline(lines, line)) {
    for (const std::string word : {"MODULE", "PROCEDURE", "FUNCTION"}) {
      const auto at = line.find(word);
      if (at != std::string::npos) {
        EXPECT_EQ(at, 0u) << line;
      }
    }
  }
}

TEST(DescriptionFile, OpenHostRefusesUpperCaseKeywordsElsewhere) {
  const std::string good = "MODULE vokip\nPROCEDURE UNPCK 2 2\n";
  EXPECT_EQ(vokip_host::parse_dlm(good, Mode::open).error, "");
  for (const std::string bad : {"DESCRIPTION one PROCEDURE too many\n", "DESCRIPTION a FUNCTION\n",
                                "DESCRIPTION the MODULE again\n"}) {
    EXPECT_NE(vokip_host::parse_dlm(good + bad, Mode::open).error, "") << bad;
    EXPECT_EQ(vokip_host::parse_dlm(good + bad, Mode::idl).error, "") << bad;
  }
}

// The Windows DLL's tables are read by objdump on the build machine
// (windows/check_dll_tables.sh).
#ifndef _WIN32
std::set<std::string> symbol_names(const std::string& nm_output) {
  std::set<std::string> names;
  std::istringstream lines(nm_output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string word, last;
    while (words >> word) last = word;
    if (!last.empty()) names.insert(last);
  }
  return names;
}

TEST(SharedLibrary, ExportsOnlyTheLoadEntryAndLeavesHostOperationsUndefined) {
  const std::string so = std::string(VOKIP_MODULE_DIR) + "/vokip.so";
  const auto defined = symbol_names(run_command("nm -D --defined-only " + so));
  EXPECT_EQ(defined, std::set<std::string>{"IDL_Load"});
  const auto undefined = symbol_names(run_command("nm -D --undefined-only " + so));
  for (const char* op : {"IDL_MessageDefineBlock", "IDL_MessageFromBlock", "IDL_SysRtnAdd",
                         "IDL_BasicTypeConversion", "IDL_VarGetData"}) {
    EXPECT_EQ(undefined.count(op), 1u) << op;
  }
}
#endif

TEST(MessageBlock, HoldsTheEightMessagesInCodeOrder) {
  vokip_host::reset(Mode::idl);
  ASSERT_TRUE(vokip_host::load_module(VOKIP_MODULE_DIR));
  ASSERT_EQ(vokip_host::ensure_loaded(), 1);
  const std::vector<vokip_host::BlockMessage> expected = {
      {"GREETING", "%NWelcome to MAR image plate unpck routine."},
      {"END", "%NGoodbye!."},
      {"DISTORTGREET", "%NCalculating image plate distortion."},
      {"AZIMGREET", "%NCalculating image plate azimuths."},
      {"TCHGREET", "%NRefining profile."},
      {"TRUNCATED", "%NPacked stream ended before the image was complete."},
      {"OUTTYPE", "%NOutput argument is not an array of the required type; nothing was computed."},
      {"SHORTARRAY",
       "%NInput arrays are shorter than required; elements without input were not computed."},
  };
  const auto block = vokip_host::message_block("vok");
  ASSERT_EQ(block.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(block[k].name, expected[k].name);
    EXPECT_EQ(block[k].format, expected[k].format);
  }
}

}  // namespace
