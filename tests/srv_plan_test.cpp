#include "net/srv.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using TKind = TSrvPlan::TKind;

TSrvAnswer Records(std::vector<TSrvRecord> records) {
  TSrvAnswer answer;
  answer.Kind = TSrvAnswer::TKind::Records;
  answer.Records = std::move(records);
  return answer;
}

std::vector<std::string> Order(const TSrvPlan& plan) {
  std::vector<std::string> targets;
  for (const TSrvRecord& record : plan.Targets) targets.push_back(record.Target);
  return targets;
}

}  // namespace

// Priority decides first, whatever the weights and the order received.
TEST(SrvPlan, LowerPriorityComesFirstWhateverItsWeight) {
  std::mt19937 random(1);
  const TSrvPlan plan = PlanSrv(Records({{20, 100, 5222, "c.example"},
                                         {10, 0, 5222, "b.example"},
                                         {0, 1, 5269, "a.example"}}),
                                random);
  ASSERT_EQ(plan.Kind, TKind::Targets);
  EXPECT_EQ(Order(plan), (std::vector<std::string>{"a.example", "b.example", "c.example"}));
  EXPECT_EQ(plan.Targets[0].Port, 5269);
}

// Within one priority the first pick follows the weights: over many draws
// each record leads about as often as its share (generous bounds), a zero
// weight leads rarely but does lead, and every record is in every order.
TEST(SrvPlan, WeightsShareTheFirstPlaceWithinOnePriority) {
  std::mt19937 random(7);
  const TSrvAnswer answer =
      Records({{5, 0, 1, "zero"}, {5, 10, 1, "ten"}, {5, 30, 1, "thirty"}, {9, 50, 1, "backup"}});
  std::map<std::string, int> first;
  constexpr int kDraws = 4000;
  for (int i = 0; i < kDraws; ++i) {
    const TSrvPlan plan = PlanSrv(answer, random);
    ASSERT_EQ(plan.Targets.size(), 4u);
    EXPECT_EQ(plan.Targets.back().Target, "backup");
    ++first[plan.Targets.front().Target];
  }
  EXPECT_NEAR(first["thirty"], kDraws * 30 / 41, kDraws / 10);
  EXPECT_NEAR(first["ten"], kDraws * 10 / 41, kDraws / 10);
  EXPECT_GT(first["zero"], 0);
  EXPECT_LT(first["zero"], kDraws / 10);
}

struct TPlanCase {
  const char* Name;
  TSrvAnswer Answer;
  TKind Kind;
  std::vector<std::string> Targets;
  std::string Reason;
};

TSrvAnswer Kind(TSrvAnswer::TKind kind, std::string reason = "") {
  TSrvAnswer answer;
  answer.Kind = kind;
  answer.Reason = std::move(reason);
  return answer;
}

class SrvPlanKinds : public testing::TestWithParam<TPlanCase> {};

TEST_P(SrvPlanKinds, AnswerDecidesWhatToDo) {
  std::mt19937 random(3);
  const TSrvPlan plan = PlanSrv(GetParam().Answer, random);
  EXPECT_EQ(plan.Kind, GetParam().Kind);
  EXPECT_EQ(Order(plan), GetParam().Targets);
  EXPECT_EQ(plan.Reason, GetParam().Reason);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SrvPlanKinds,
    testing::Values(TPlanCase{"LoneDotIsNotOffered", Records({{0, 0, 0, "."}}), TKind::NotOffered, {}, ""},
                    TPlanCase{"DotAmongOthersIsSkipped", Records({{0, 0, 0, "."}, {1, 0, 5222, "x.example"}}),
                              TKind::Targets, {"x.example"}, ""},
                    TPlanCase{"NoRecordFallsBack", Kind(TSrvAnswer::TKind::NoRecord), TKind::Fallback, {}, ""},
                    TPlanCase{"EmptyAnswerFallsBack", Records({}), TKind::Fallback, {}, ""},
                    TPlanCase{"FailedKeepsItsReason", Kind(TSrvAnswer::TKind::Failed, "no answer"), TKind::Failed,
                              {}, "no answer"}),
    [](const testing::TestParamInfo<TPlanCase>& info) { return std::string(info.param.Name); });
