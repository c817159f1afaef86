// The packed parameter lists of StoredProc as the tests build and check them: an input list packed
// from TParams, and one entry of OutPutPack (name, value, data type, kind ptOutput, size,
// precision and scale all 0).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "codec/uMemoryStream2OLEVariant.h"

namespace velmora::test {

inline OleVariant PackParams(const TParams& params) {
  OleVariant packed;
  Params2OleVariant(params, kAllParamTypes, packed);
  return packed;
}

inline void ExpectPackedOutput(const OleVariant& entry, const std::string& name,
                               const OleVariant& value, int data_type) {
  SCOPED_TRACE(name);
  ASSERT_TRUE(entry.IsVariantArray());
  EXPECT_EQ(entry[0].AsString(), name);
  EXPECT_EQ(entry[1], value);
  EXPECT_EQ(entry[2].AsInteger(), data_type);
  EXPECT_EQ(entry[3].AsInteger(), ptOutput);
  EXPECT_EQ(entry[4].AsInteger(), 0);
  EXPECT_EQ(entry[5].AsInteger(), 0);
  EXPECT_EQ(entry[6].AsInteger(), 0);
}

}  // namespace velmora::test
