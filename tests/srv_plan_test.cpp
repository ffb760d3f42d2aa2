#include "net/srv.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using TKind = TSrvPlan::TKind;

TSrvAnswer Answer(std::vector<TSrvRecord> records, TSrvAnswer::TKind kind = TSrvAnswer::TKind::Records,
                  std::string reason = "") {
  return {kind, std::move(records), std::move(reason)};
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
  const TSrvPlan plan =
      PlanSrv(Answer({{20, 100, 5222, "c.example"}, {10, 0, 5222, "b.example"}, {0, 1, 5269, "a.example"}}), random);
  ASSERT_EQ(plan.Kind, TKind::Targets);
  EXPECT_EQ(Order(plan), (std::vector<std::string>{"a.example", "b.example", "c.example"}));
  EXPECT_EQ(plan.Targets[0].Port, 5269);
}

// Within one priority the first pick follows the weights: over many draws
// each record leads about as often as its share (generous bounds), and a
// zero weight leads rarely but does lead.
TEST(SrvPlan, WeightsShareTheFirstPlaceWithinOnePriority) {
  std::mt19937 random(7);
  const TSrvAnswer answer = Answer({{5, 0, 1, "zero"}, {5, 10, 1, "ten"}, {5, 30, 1, "thirty"}, {9, 50, 1, "last"}});
  std::map<std::string, int> first;
  constexpr int kDraws = 4000;
  for (int i = 0; i < kDraws; ++i) {
    const TSrvPlan plan = PlanSrv(answer, random);
    ASSERT_EQ(plan.Targets.size(), 4u);
    EXPECT_EQ(plan.Targets.back().Target, "last");
    ++first[plan.Targets.front().Target];
  }
  EXPECT_NEAR(first["thirty"], kDraws * 30 / 41, kDraws / 10);
  EXPECT_NEAR(first["ten"], kDraws * 10 / 41, kDraws / 10);
  EXPECT_GT(first["zero"], 0);
  EXPECT_LT(first["zero"], kDraws / 10);
}

// "." alone means no service; among other records it names nothing to try.
// No record falls back; a failed look-up keeps its reason.
TEST(SrvPlan, AnswersThatAreNoList) {
  std::mt19937 random(3);
  EXPECT_EQ(PlanSrv(Answer({{0, 0, 0, "."}}), random).Kind, TKind::NotOffered);
  const TSrvPlan dotAmongOthers = PlanSrv(Answer({{0, 0, 0, "."}, {1, 0, 5222, "x.example"}}), random);
  EXPECT_EQ(Order(dotAmongOthers), std::vector<std::string>{"x.example"});
  EXPECT_EQ(PlanSrv(Answer({}, TSrvAnswer::TKind::NoRecord), random).Kind, TKind::Fallback);
  EXPECT_EQ(PlanSrv(Answer({}), random).Kind, TKind::Fallback);
  const TSrvPlan failed = PlanSrv(Answer({}, TSrvAnswer::TKind::Failed, "no answer"), random);
  EXPECT_EQ(failed.Kind, TKind::Failed);
  EXPECT_EQ(failed.Reason, "no answer");
}
