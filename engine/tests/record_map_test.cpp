// record::OrderedMap against a plain list of pairs, below and above the size where it keeps a hash index.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "record.hpp"

namespace zefa {
namespace {

using Map = record::OrderedMap<std::string, int>;
using Model = std::vector<std::pair<std::string, int>>;

size_t model_find(const Model& m, const std::string& k) {
  for (size_t i = 0; i < m.size(); ++i)
    if (m[i].first == k) return i;
  return m.size();
}

void expect_same(const Map& map, const Model& model, const std::string& step) {
  ASSERT_EQ(map.size(), model.size()) << step;
  size_t i = 0;
  for (const auto& [k, v] : map) {
    EXPECT_EQ(k, model[i].first) << step << " at " << i;
    EXPECT_EQ(v, model[i].second) << step << " at " << i;
    ++i;
  }
  for (size_t j = 0; j < model.size(); ++j) {
    ASSERT_EQ(map.index_of(std::string_view(model[j].first)), j) << step;
    ASSERT_EQ(*map.find(model[j].first), model[j].second) << step;
  }
}

// Keys from a small pool, so replacement, removal and re-insertion happen often.
TEST(OrderedMap, AgreesWithAListOfPairs) {
  for (int pool : {6, 17, 40, 3000}) {
    std::mt19937 rng(static_cast<unsigned>(pool));
    Map map;
    Model model;
    for (int step = 0; step < 6 * pool + 200; ++step) {
      const std::string key = "k" + std::to_string(rng() % static_cast<unsigned>(pool));
      const int value = step;
      const size_t at = model_find(model, key);
      const std::string what = "pool " + std::to_string(pool) + " step " + std::to_string(step);
      switch (rng() % 8) {
        case 0:
        case 1:  // removal keeps the order of the others
          EXPECT_EQ(map.erase(key), at < model.size()) << what;
          if (at < model.size()) model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
          break;
        case 2:  // operator[] appends a default value for a new key
          map[key] += 1;
          if (at < model.size()) model[at].second += 1;
          else model.emplace_back(key, 1);
          break;
        default:  // an existing key keeps its place, a new one goes last
          map.insert_or_assign(key, value);
          if (at < model.size()) model[at].second = value;
          else model.emplace_back(key, value);
      }
      ASSERT_EQ(map.find(std::string_view(key)) != nullptr, model_find(model, key) < model.size()) << what;
      if (step % 97 == 0 || pool < 50) expect_same(map, model, what);
    }
    expect_same(map, model, "pool " + std::to_string(pool) + " end");
    EXPECT_FALSE(map.contains("absent"));
    // Copies keep their own index.
    Map copy = map;
    copy.insert_or_assign("fresh", -1);
    EXPECT_TRUE(copy.contains("fresh"));
    EXPECT_FALSE(map.contains("fresh"));
    expect_same(map, model, "after copy");
  }
}

TEST(OrderedMap, ManyKeysAfterReserveAndClear) {
  Map map;
  map.reserve(3000);
  for (int i = 0; i < 3000; ++i) map.push_unique("id" + std::to_string(i), i);
  for (int i = 2999; i >= 0; --i) ASSERT_EQ(*map.find("id" + std::to_string(i)), i);
  for (int i = 0; i < 2990; ++i) ASSERT_TRUE(map.erase("id" + std::to_string(i)));
  ASSERT_EQ(map.size(), 10u);
  EXPECT_EQ(map.at(0).first, "id2990");
  for (int i = 0; i < 100; ++i) map.insert_or_assign("id" + std::to_string(i), -i);
  EXPECT_EQ(map.size(), 110u);
  EXPECT_EQ(map.index_of(std::string_view("id0")), 10u);
  EXPECT_EQ(*map.find("id99"), -99);
  map.clear();
  EXPECT_TRUE(map.empty());
  EXPECT_EQ(map.find("id99"), nullptr);
  map.insert_or_assign("id99", 5);
  EXPECT_EQ(*map.find("id99"), 5);
}

}  // namespace
}  // namespace zefa
