// The stand-in host answers the module's operations as the real hosts do;
// every shell test relies on these answers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "host/host.h"

namespace {

using vokip_host::Mode;

TEST(Conversion, MatchingTypeGivesTheCallersOwnVariable) {
  vokip_host::reset(Mode::idl);
  IDL_VPTR v = vokip_host::make_array(IDL_TYP_UINT, {3, 2});
  IDL_VPTR args[1] = {v};
  EXPECT_EQ(IDL_BasicTypeConversion(1, args, IDL_TYP_UINT), v);
}

TEST(Conversion, OtherTypeGivesAConvertedTemporaryOfTheSameShape) {
  vokip_host::reset(Mode::idl);
  IDL_VPTR v = vokip_host::make_array_from(IDL_TYP_INT, {-2, 7, 300, 1, 2, 3}, {3, 2});
  IDL_VPTR args[1] = {v};
  IDL_VPTR d = IDL_BasicTypeConversion(1, args, IDL_TYP_DOUBLE);
  ASSERT_NE(d, v);
  EXPECT_EQ(d->type, IDL_TYP_DOUBLE);
  EXPECT_TRUE(d->flags & IDL_V_TEMP);
  ASSERT_TRUE(d->flags & IDL_V_ARR);
  EXPECT_EQ(d->value.arr->dim[0], 3);
  EXPECT_EQ(d->value.arr->dim[1], 2);
  EXPECT_EQ(vokip_host::values(d), (std::vector<double>{-2, 7, 300, 1, 2, 3}));
  // To bytes, integers wrap modulo 256 as in the host.
  IDL_VPTR b = IDL_BasicTypeConversion(1, args, IDL_TYP_BYTE);
  EXPECT_EQ(vokip_host::values(b), (std::vector<double>{254, 7, 44, 1, 2, 3}));
}

TEST(Conversion, FloatToIntegerTruncatesTowardZeroAndNonFiniteIsSafe) {
  vokip_host::reset(Mode::idl);
  IDL_VPTR f = vokip_host::make_array_from(IDL_TYP_DOUBLE, {2.9, -2.9, NAN, INFINITY});
  IDL_VPTR args[1] = {f};
  EXPECT_EQ(vokip_host::values(IDL_BasicTypeConversion(1, args, IDL_TYP_LONG)),
            (std::vector<double>{2, -2, 0, 0}));
}

TEST(Conversion, ScalarToDoubleIsExactInIdlAndTruncatedInTheOpenHost) {
  for (Mode mode : {Mode::idl, Mode::open}) {
    vokip_host::reset(mode);
    IDL_VPTR s = vokip_host::make_scalar(IDL_TYP_LONG, 70000);
    IDL_VPTR args[1] = {s};
    IDL_VPTR d = IDL_BasicTypeConversion(1, args, IDL_TYP_DOUBLE);
    EXPECT_EQ(d->type, IDL_TYP_DOUBLE);
    if (mode == Mode::idl) {
      EXPECT_EQ(d->value.d, 70000.0);
    } else {
      EXPECT_EQ(d->value.i, static_cast<IDL_INT>(70000));
      EXPECT_LT(std::fabs(d->value.d), 1e-300) << "the double member is garbage";
    }
  }
}

TEST(VarGetData, ArrayGivesCountAndDataScalarGivesOneAndItsValue) {
  vokip_host::reset(Mode::idl);
  IDL_VPTR a = vokip_host::make_array(IDL_TYP_DOUBLE, {4, 5});
  IDL_MEMINT n = -1;
  char* p = nullptr;
  IDL_VarGetData(a, &n, &p, 0);
  EXPECT_EQ(n, 20);
  EXPECT_EQ(static_cast<void*>(p), vokip_host::data(a));
  IDL_VPTR s = vokip_host::make_scalar(IDL_TYP_DOUBLE, 2.5);
  IDL_VarGetData(s, &n, &p, 0);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(*reinterpret_cast<double*>(p), 2.5);
}

TEST(Messages, IdlFormatsFromTheBlockOpenPrintsTheFirstArgument) {
  IDL_MSG_DEF defs[2] = {{const_cast<char*>("A"), const_cast<char*>("%NFirst.")},
                         {const_cast<char*>("B"), const_cast<char*>("%NSecond.")}};
  vokip_host::reset(Mode::idl);
  IDL_MSG_BLOCK block = IDL_MessageDefineBlock(const_cast<char*>("t"), 2, defs);
  ASSERT_NE(block, nullptr);
  IDL_MessageFromBlock(block, -1, IDL_MSG_INFO, "ignored");
  vokip_host::reset(Mode::open);
  block = IDL_MessageDefineBlock(const_cast<char*>("t"), 2, defs);
  IDL_MessageFromBlock(block, -1, IDL_MSG_INFO, "X: Shown.");
  ASSERT_EQ(vokip_host::printed().size(), 1u);
  EXPECT_EQ(vokip_host::printed()[0], "% X: Shown.");
}

TEST(Messages, RefusedBlockIsNull) {
  vokip_host::reset(Mode::idl);
  vokip_host::refuse_message_block(true);
  EXPECT_EQ(IDL_MessageDefineBlock(const_cast<char*>("t"), 0, nullptr), nullptr);
}

TEST(Calls, UnknownRoutineIsAnErrorNotACrash) {
  vokip_host::reset(Mode::idl);
  EXPECT_FALSE(vokip_host::call("NOSUCH", {}));
  ASSERT_EQ(vokip_host::printed().size(), 1u);
  EXPECT_EQ(vokip_host::printed()[0], "% Attempt to call undefined procedure: 'NOSUCH'.");
}

}  // namespace
