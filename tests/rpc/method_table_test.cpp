// Typed registration of published methods and the argument conversions behind it.
#include "rpc/method_table.h"

#include <gtest/gtest.h>

namespace velmora::test {
namespace {

class TModule : public TDSServerModuleBase {
 public:
  void Upload(const std::string& FileName, const OleVariant& Data) {
    seen_name = &FileName;
    seen_data = &Data;
  }
  std::string Describe(int32_t a, int64_t b, double c, bool d, std::string e) const {
    return std::to_string(a) + "|" + std::to_string(b) + "|" + std::to_string(c) + "|" +
           (d ? "T" : "F") + "|" + e;
  }
  TDateTime When(TDateTime t, std::string& Note, int32_t& Code, OleVariant& Extra) {
    Note = "n";
    Code = 7;
    Extra = OleVariant::Null();
    return {t.Value + 1};
  }
  const std::string* seen_name = nullptr;
  const OleVariant* seen_data = nullptr;
};

class TOther : public TDSServerModuleBase {};

TDSMethodTable MakeTable() {
  TDSMethodTable t("TModule");
  t.Add("UploadFile", &TModule::Upload)
      .Add("Describe", &TModule::Describe)
      .Add("When", &TModule::When);
  return t;
}

TEST(MethodTableTest, SignaturesAreDerivedFromTheMemberFunction) {
  const TDSMethodTable t = MakeTable();
  struct Case {
    const char* name;
    size_t in, out;
    bool result;
  } cases[] = {{"uploadfile", 2, 0, false}, {"DESCRIBE", 5, 0, true}, {"When", 1, 3, true}};
  for (const Case& c : cases) {
    const TDSMethodInfo* m = t.Find(c.name);
    ASSERT_NE(m, nullptr) << c.name;
    EXPECT_EQ(m->InCount, c.in) << c.name;
    EXPECT_EQ(m->OutCount, c.out) << c.name;
    EXPECT_EQ(m->HasResult, c.result) << c.name;
  }
  EXPECT_EQ(t.Find("Upload"), nullptr);
  EXPECT_EQ(t.Find("UploadFile2"), nullptr);

  TDSMethodTable dup("TModule");
  dup.Add("When", &TModule::When);
  EXPECT_THROW(dup.Add("WHEN", &TModule::When), std::invalid_argument);
}

TEST(MethodTableTest, ConstReferenceArgumentsAreBorrowedNotCopied) {
  const TDSMethodTable t = MakeTable();
  TModule m;
  std::vector<OleVariant> args{OleVariant::UString("a.txt"),
                               OleVariant::Bytes(std::string(100000, 'x'))};
  OleVariant result;
  std::vector<OleVariant> outs;
  t.Find("UploadFile")->Invoke(m, args, result, outs);
  EXPECT_EQ(m.seen_name, &args[0].Text());
  EXPECT_EQ(m.seen_data, &args[1]);
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_TRUE(outs.empty());
}

TEST(MethodTableTest, ArgumentsConvertFromCompatibleKindsOnly) {
  const TDSMethodTable t = MakeTable();
  TModule m;
  OleVariant result;
  std::vector<OleVariant> outs;
  std::vector<OleVariant> args{OleVariant(uint16_t{9}), OleVariant(int8_t{-2}),
                               OleVariant::Currency(25000), OleVariant(true),
                               OleVariant::AnsiString("s")};
  t.Find("Describe")->Invoke(m, args, result, outs);
  EXPECT_EQ(result, OleVariant::OleStr("9|-2|2.500000|T|s"));

  struct Bad {
    size_t index;
    OleVariant value;
  } bad[] = {
      {0, OleVariant(1.0)},               // a float is not an integer
      {0, OleVariant(int64_t{1} << 40)},  // out of the Integer range
      {1, OleVariant(std::numeric_limits<uint64_t>::max())},
      {1, OleVariant::OleStr("12")},  // text is not converted to numbers
      {2, OleVariant::OleStr("1.5")},
      {3, OleVariant(int32_t{1})},  // booleans only
      {4, OleVariant::Null()},
      {4, OleVariant(int32_t{1})},
  };
  for (const Bad& b : bad) {
    std::vector<OleVariant> a = args;
    a[b.index] = b.value;
    EXPECT_THROW(t.Find("Describe")->Invoke(m, a, result, outs), EDSArgumentError)
        << b.index << " " << VarTypeName(b.value.VarType());
  }
}

TEST(MethodTableTest, OutParametersAndDateResultsTravelTyped) {
  const TDSMethodTable t = MakeTable();
  TModule m;
  OleVariant result;
  std::vector<OleVariant> outs{OleVariant(1), OleVariant(2), OleVariant(3),
                               OleVariant(4)};  // replaced
  std::vector<OleVariant> args{OleVariant::Date(100.25)};
  t.Find("When")->Invoke(m, args, result, outs);
  EXPECT_EQ(result, OleVariant::Date(101.25));
  EXPECT_EQ(outs, (std::vector<OleVariant>{OleVariant::OleStr("n"), OleVariant(int32_t{7}),
                                           OleVariant::Null()}));

  TOther other;
  EXPECT_THROW(t.Find("When")->Invoke(other, args, result, outs), std::logic_error);
}

}  // namespace
}  // namespace velmora::test
