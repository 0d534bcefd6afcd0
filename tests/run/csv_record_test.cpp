#include "run/csv_record.h"

#include <gtest/gtest.h>

namespace kestrine {
namespace {

using Fields = std::vector<std::string>;

TEST(SplitRecord, SplitsAtEveryCommaWithoutQuotingOrTrimming) {
  EXPECT_EQ(splitRecord(""), Fields{});
  EXPECT_EQ(splitRecord("a"), Fields{"a"});
  EXPECT_EQ(splitRecord(",,"), (Fields{"", "", ""}));
  EXPECT_EQ(splitRecord("jdoe,,John"), (Fields{"jdoe", "", "John"}));
  EXPECT_EQ(splitRecord(" jdoe ,\tJohn"), (Fields{" jdoe ", "\tJohn"}));
  EXPECT_EQ(splitRecord("a,\"Smith, John\",b"), (Fields{"a", "\"Smith", " John\"", "b"}));
  EXPECT_EQ(splitRecord("a,"), (Fields{"a", ""}));
  EXPECT_EQ(splitRecord("0,1,2,3,4,5,6,7,8,9,10,11").size(), 12u);
}

TEST(IsRecord, SkipsOnlyMissingEmptyOrExactSentinelColumnZero) {
  EXPECT_FALSE(isRecord(splitRecord("")));
  EXPECT_FALSE(isRecord(splitRecord(",,,,")));
  EXPECT_FALSE(isRecord(splitRecord(",jdoe")));
  EXPECT_FALSE(isRecord(splitRecord("string not to include,x,y")));
  EXPECT_TRUE(isRecord(splitRecord("STRING NOT TO INCLUDE,x")));
  EXPECT_TRUE(isRecord(splitRecord(" string not to include")));
  EXPECT_TRUE(isRecord(splitRecord("String not to include")));
  EXPECT_TRUE(isRecord(splitRecord(" ")));
  EXPECT_TRUE(isRecord(splitRecord("jdoe")));
}

TEST(TakeColumn, KeepsTheEarlierValueWhenTheColumnIsMissing) {
  std::string target = "earlier";
  EXPECT_FALSE(takeColumn(splitRecord("a,b"), kFirstName, target));
  EXPECT_EQ(target, "earlier");
  EXPECT_TRUE(takeColumn(splitRecord("a,b,"), kFirstName, target));
  EXPECT_EQ(target, "");
  EXPECT_TRUE(takeColumn(splitRecord("a,b,Jane"), kFirstName, target));
  EXPECT_EQ(target, "Jane");
}

}  // namespace
}  // namespace kestrine
