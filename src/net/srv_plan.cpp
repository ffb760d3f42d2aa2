// The order in which a domain's SRV targets are tried (RFC 2782): by
// priority, lowest first; within one priority a weighted random draw, so that
// load spreads as the domain's administrator asked.

#include <algorithm>

#include "net/srv.h"

namespace {

// RFC 2782's draw among the records of one priority: zero weights first in
// the running sums, so that they are picked too but rarely; each round draws
// a number from 0 to the sum of the weights left and takes the first record
// whose running sum reaches it.
void DrawByWeight(std::vector<TSrvRecord>& Group, std::mt19937& Random, std::vector<TSrvRecord>& Into) {
  std::stable_partition(Group.begin(), Group.end(), [](const TSrvRecord& r) { return r.Weight == 0; });
  while (!Group.empty()) {
    std::uint32_t total = 0;
    for (const TSrvRecord& record : Group) total += record.Weight;
    const std::uint32_t pick = std::uniform_int_distribution<std::uint32_t>(0, total)(Random);
    std::uint32_t sum = 0;
    auto chosen = Group.begin();
    for (; chosen != Group.end(); ++chosen) {
      sum += chosen->Weight;
      if (sum >= pick) break;
    }
    if (chosen == Group.end()) chosen = Group.end() - 1;
    Into.push_back(*chosen);
    Group.erase(chosen);
  }
}

struct TFailureText {
  TSrvFailure Failure;
  const char* Text;
};
constexpr TFailureText kFailureTexts[] = {
    {TSrvFailure::NoAnswer, "The name server failed or did not answer"},
    {TSrvFailure::Refused, "The name server refused the query"},
    {TSrvFailure::Unreadable, "The name server's answer could not be read"},
    {TSrvFailure::NoResolver, "The resolver could not be used"},
};

}  // namespace

const char* SrvFailureText(TSrvFailure Failure) {
  for (const TFailureText& entry : kFailureTexts)
    if (entry.Failure == Failure) return entry.Text;
  return kFailureTexts[0].Text;
}

TSrvPlan PlanSrv(const TSrvAnswer& Answer, std::mt19937& Random) {
  TSrvPlan plan;
  if (Answer.Kind == TSrvAnswer::TKind::Failed) {
    plan.Kind = TSrvPlan::TKind::Failed;
    plan.Reason = Answer.Reason;
    return plan;
  }
  if (Answer.Kind == TSrvAnswer::TKind::NoRecord || Answer.Records.empty()) return plan;
  if (Answer.Records.size() == 1 && Answer.Records.front().Target == ".") {
    plan.Kind = TSrvPlan::TKind::NotOffered;
    return plan;
  }
  // "." means something only as the one record; among others it names no
  // host to try.
  std::vector<TSrvRecord> records;
  for (const TSrvRecord& record : Answer.Records)
    if (record.Target != "." && !record.Target.empty()) records.push_back(record);
  std::stable_sort(records.begin(), records.end(),
                   [](const TSrvRecord& a, const TSrvRecord& b) { return a.Priority < b.Priority; });
  plan.Kind = TSrvPlan::TKind::Targets;
  for (auto begin = records.begin(); begin != records.end();) {
    auto end = std::find_if(begin, records.end(), [&](const TSrvRecord& r) { return r.Priority != begin->Priority; });
    std::vector<TSrvRecord> group(begin, end);
    DrawByWeight(group, Random, plan.Targets);
    begin = end;
  }
  if (plan.Targets.empty()) plan.Kind = TSrvPlan::TKind::NotOffered;
  return plan;
}
