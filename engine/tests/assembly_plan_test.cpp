// Plan operations that replies do not show directly: whether a report
// concerns a plan, for short and long lists alike.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assembly/plan.hpp"

namespace zefa {
namespace {

std::vector<std::string> codes(int from, int count) {
  std::vector<std::string> out;
  for (int i = from; i < from + count; ++i) out.push_back("c" + std::to_string(i));
  return out;
}

TEST(PlanAffected, ByDependsOnOrUpdateAll) {
  struct Case {
    std::vector<std::string> depends_on, changed;
    bool update_all, want;
  } cases[] = {
      {{"a", "b"}, {"b"}, false, true},
      {{"a", "b"}, {"c"}, false, false},
      {{}, {"a"}, false, false},
      {{"a"}, {}, false, false},
      {{}, {}, true, true},
      // long lists on both sides meet through a set: the last codes match
      {codes(0, 100), codes(99, 100), false, true},
      {codes(0, 100), codes(100, 100), false, false},
  };
  for (const Case& c : cases) {
    assembly::Plan plan;
    plan.depends_on = c.depends_on;
    plan.update_all = c.update_all;
    EXPECT_EQ(plan.affected(c.changed), c.want) << c.depends_on.size() << " x " << c.changed.size();
  }
}

}  // namespace
}  // namespace zefa
