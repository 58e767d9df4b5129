// The data operators at the sizes rule packs can reach, each beside a plain
// C++ reference doing the same work in the same run, and the limit refusals
// with the peak memory they cost.
//
// Growth with n: run with --benchmark_filter=ExprData and read the fitted
// complexity lines (BigO, RMS) that follow each family.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "expr/scope.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "bench_util.hpp"

namespace {

using zefa::json::Value;
using zefa::testing::parse_or_abort;
namespace expr = zefa::expr;


// Evaluates `e` once per iteration over `ctx`, in one scope whose budgets are
// reset each time.
void eval_loop(benchmark::State& state, const Value& ctx, const Value& e) {
  expr::Scope s = expr::Scope().with_fields(ctx);
  zefa::bench::eval_each_iteration(state, s, e);
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// n pseudo-random lower-case words of 6 to 16 letters.
std::vector<std::string> words(size_t n) {
  std::vector<std::string> out;
  uint64_t x = 88172645463325252ull;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    std::string w(6 + x % 11, 'a');
    for (size_t j = 0; j < w.size(); ++j) w[j] = static_cast<char>('a' + (x >> (j * 4)) % 26);
    out.push_back(std::move(w));
  }
  return out;
}

// ---------------------------------------------------------------- sort

void BM_ExprDataSort(benchmark::State& state) {
  zefa::json::Array xs;
  for (std::string& w : words(static_cast<size_t>(state.range(0)))) xs.emplace_back(w);
  const Value ctx(zefa::json::Object{{"xs", Value(std::move(xs))}});
  eval_loop(state, ctx, parse_or_abort(R"({"op":"sort","args":[{"op":"get","path":"xs"}]})"));
}
BENCHMARK(BM_ExprDataSort)->Arg(1'000)->Arg(10'000)->Arg(90'000)->Complexity(benchmark::oNLogN);

void BM_ReferenceSortStrings(benchmark::State& state) {
  const std::vector<std::string> ws = words(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::vector<std::string> copy = ws;
    std::stable_sort(copy.begin(), copy.end());
    benchmark::DoNotOptimize(copy);
  }
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReferenceSortStrings)->Arg(1'000)->Arg(10'000)->Arg(90'000)->Complexity(benchmark::oNLogN);

// ---------------------------------------------------------------- replace

std::string prose(size_t bytes) {
  const std::string line = "the quick brown fox jumps over the lazy dog; ";
  std::string s;
  while (s.size() < bytes) s += line;
  s.resize(bytes);
  return s;
}

// items/s counts bytes of the input text.
void BM_ExprDataReplace(benchmark::State& state) {
  const Value ctx(zefa::json::Object{{"t", Value(prose(static_cast<size_t>(state.range(0))))}});
  eval_loop(state, ctx, parse_or_abort(R"({"op":"replace","args":[{"op":"get","path":"t"},"fox","wolf"]})"));
}
BENCHMARK(BM_ExprDataReplace)->Arg(10'000)->Arg(100'000)->Arg(800'000)->Complexity(benchmark::oN);

void BM_ReferenceReplace(benchmark::State& state) {
  const std::string t = prose(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::string out;
    size_t from = 0;
    for (size_t at; (at = t.find("fox", from)) != std::string::npos; from = at + 3) {
      out.append(t, from, at - from);
      out += "wolf";
    }
    out.append(t, from);
    benchmark::DoNotOptimize(out);
  }
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReferenceReplace)->Arg(10'000)->Arg(100'000)->Arg(800'000)->Complexity(benchmark::oN);

// ---------------------------------------------------------------- map + filter

Value integers(size_t n) {
  zefa::json::Array xs;
  for (size_t i = 0; i < n; ++i) xs.emplace_back(i);
  return Value(std::move(xs));
}

// Triples every element, then keeps those above the middle.
void BM_ExprDataMapFilter(benchmark::State& state) {
  const Value ctx(zefa::json::Object{{"xs", integers(static_cast<size_t>(state.range(0)))},
                                     {"half", Value(static_cast<uint64_t>(state.range(0)) * 3 / 2)}});
  eval_loop(state, ctx, parse_or_abort(R"({"op":"filter","do":{"op":"gt","args":[{"op":"get","path":"item"},
      {"op":"get","path":"half"}]},"args":[{"op":"map","args":[{"op":"get","path":"xs"}],
      "do":{"op":"mul","args":[{"op":"get","path":"item"},3]}}]})"));
}
BENCHMARK(BM_ExprDataMapFilter)->Arg(1'000)->Arg(10'000)->Arg(90'000)->Complexity(benchmark::oN);

void BM_ReferenceMapFilter(benchmark::State& state) {
  const Value xs = integers(static_cast<size_t>(state.range(0)));
  const double half = static_cast<double>(state.range(0)) * 3 / 2;
  for (auto _ : state) {
    zefa::json::Array mapped, kept;
    for (const Value& x : xs.arr()) mapped.emplace_back(x.to_f64() * 3);
    for (const Value& x : mapped)
      if (x.to_f64() > half) kept.push_back(x);
    benchmark::DoNotOptimize(kept);
  }
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReferenceMapFilter)->Arg(1'000)->Arg(10'000)->Arg(90'000)->Complexity(benchmark::oN);

// ---------------------------------------------------------------- limits

long status_kb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string k;
  long v = -1;
  while (in >> k) {
    if (k == key) {
      in >> v;
      break;
    }
  }
  return v;
}

// Peak resident growth in KiB while `run` executes once, measured in a forked
// child: its free heap pages are returned and its peak reset first, and
// allocations of 64 KiB or more take fresh pages, so a large result shows
// however the heap looked before.
// -1 when the peak cannot be reset.
long peak_growth_kb(const std::function<void()>& run) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    malloc_trim(0);  // free heap pages go back, so reusing them counts again
    mallopt(M_MMAP_THRESHOLD, 64 * 1024);
    long growth = -1;
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5" << std::flush;
    const long before = status_kb("VmRSS:");
    if (reset && before >= 0) {
      run();
      growth = status_kb("VmHWM:") - before;
    }
    if (write(fds[1], &growth, sizeof growth) != sizeof growth) _exit(1);
    _exit(0);
  }
  long growth = -1;
  close(fds[1]);
  if (pid < 0 || read(fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
  close(fds[0]);
  if (pid > 0) waitpid(pid, nullptr, 0);
  return growth;
}

const Value& limit_context() {
  static const Value ctx = [] {
    zefa::json::Array big;
    for (int i = 0; i < 59'999; ++i) big.emplace_back(i);
    zefa::json::Array small(big.begin(), big.begin() + 29'999);
    return Value(zefa::json::Object{{"a", Value(big)},
                                    {"c", Value(std::move(small))},
                                    {"b", Value(big)},
                                    {"short", Value(std::string(1024, 'a'))},
                                    {"rep", Value(std::string(1025, 'b'))},
                                    {"rep_fit", Value(std::string(1024, 'b'))}});
  }();
  return ctx;
}

// Each case once per iteration; counters: peak_kb, the peak memory growth of
// one evaluation. The refusals fail before building, so their peak stays near
// zero, while the "fits" references build a result of the same scale.
void limit_case(benchmark::State& state, const char* text, bool refused) {
  const Value e = parse_or_abort(text);
  auto once = [&] {
    expr::Scope s = expr::Scope().with_fields(limit_context());
    auto r = s.eval(e);
    if (r.ok() == refused) state.SkipWithError(r.ok() ? "not refused" : r.error().c_str());
    benchmark::DoNotOptimize(r);
  };
  for (auto _ : state) once();
  state.counters["peak_kb"] = static_cast<double>(peak_growth_kb(once));
}

// The measuring floor: an evaluation that builds nothing.
void BM_LimitBaselineNothing(benchmark::State& state) { limit_case(state, R"({"op":"and"})", false); }
BENCHMARK(BM_LimitBaselineNothing);

void BM_LimitListOfTwo60k(benchmark::State& state) {
  limit_case(state, R"({"op":"list","args":[{"op":"get","path":"a"},{"op":"get","path":"b"}]})", true);
}
BENCHMARK(BM_LimitListOfTwo60k);

void BM_LimitZipOfTwo60k(benchmark::State& state) {
  limit_case(state, R"({"op":"zip","args":[{"op":"get","path":"a"},{"op":"get","path":"b"}]})", true);
}
BENCHMARK(BM_LimitZipOfTwo60k);

void BM_LimitRange100k(benchmark::State& state) { limit_case(state, R"({"op":"range","args":[100000]})", true); }
BENCHMARK(BM_LimitRange100k);

void BM_LimitReplacePast1MiB(benchmark::State& state) {
  limit_case(state, R"({"op":"replace","args":[{"op":"get","path":"short"},"a",{"op":"get","path":"rep"}]})", true);
}
BENCHMARK(BM_LimitReplacePast1MiB);

void BM_LimitHexWidth1MiBPlus1(benchmark::State& state) {
  limit_case(state, R"({"op":"hex","args":[255,1048577]})", true);
}
BENCHMARK(BM_LimitHexWidth1MiBPlus1);

void BM_FitsZipOfTwo30k(benchmark::State& state) {
  limit_case(state, R"({"op":"zip","args":[{"op":"get","path":"c"},{"op":"get","path":"c"}]})", false);
}
BENCHMARK(BM_FitsZipOfTwo30k);

void BM_FitsRange99999(benchmark::State& state) { limit_case(state, R"({"op":"range","args":[99999]})", false); }
BENCHMARK(BM_FitsRange99999);

void BM_FitsReplaceTo1MiB(benchmark::State& state) {
  limit_case(state, R"({"op":"replace","args":[{"op":"get","path":"short"},"a",{"op":"get","path":"rep_fit"}]})",
             false);
}
BENCHMARK(BM_FitsReplaceTo1MiB);

void BM_FitsHexWidth1MiB(benchmark::State& state) { limit_case(state, R"({"op":"hex","args":[255,1048576]})", false); }
BENCHMARK(BM_FitsHexWidth1MiB);

}  // namespace
