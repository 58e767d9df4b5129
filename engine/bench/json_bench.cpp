// JSON core against RapidJSON's DOM on the same generated corpora, in one
// run: parse, write, parse + free and free alone (MB/s of text), and the
// memory a parsed document keeps (BM_DomMemory: heap bytes of ours against
// the bytes RapidJSON's allocator hands out for its DOM).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "json.hpp"
#include "testing.hpp"
#include "zefa_engine.h"

#ifdef ZEFA_HAVE_RAPIDJSON
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#endif

namespace {

using zefa::json::Value;

// A large nested object with many keys: device-description-like records.
std::string make_objects() {
  std::mt19937 rng(1);
  std::string s = "{";
  for (int d = 0; d < 2000; ++d) {
    if (d) s += ',';
    s += "\"device_" + std::to_string(d) + "\":{\"id\":\"bf" + std::to_string(rng()) +
         "\",\"product_id\":\"p" + std::to_string(rng() % 1000) + "\",\"online\":" + (rng() % 2 ? "true" : "false") +
         ",\"status\":{";
    for (int k = 0; k < 12; ++k) {
      if (k) s += ',';
      s += "\"dp_code_" + std::to_string(k) + "\":" + std::to_string(rng() % 1000);
    }
    s += "},\"range\":{\"min\":0,\"max\":1000,\"scale\":1,\"step\":1,\"unit\":\"%\"},\"tags\":[\"a\",\"b\",null]}";
  }
  return s + "}";
}

// A number-heavy array: integers, negatives and floats.
std::string make_numbers() {
  std::mt19937_64 rng(2);
  std::uniform_real_distribution<double> real(-1e6, 1e6);
  std::string s = "[";
  for (int i = 0; i < 100000; ++i) {
    if (i) s += ',';
    switch (i % 3) {
      case 0: s += std::to_string(rng() % 100000000); break;
      case 1: s += std::to_string(-static_cast<int64_t>(rng() % 100000)); break;
      default: zefa::json::write_double(real(rng), s);
    }
  }
  return s + "]";
}

// A string-heavy document with escapes and non-ASCII text.
std::string make_strings() {
  std::string s = "[";
  const char* words[] = {"temp\\u00e9rature", "caf\xC3\xA9", "line\\nbreak", "quote\\\"d", "\xE6\x97\xA5\xE6\x9C\xAC",
                         "tab\\tstop", "plain ascii words in a longer sentence", "\\ud83d\\ude00 emoji"};
  for (int i = 0; i < 60000; ++i) {
    if (i) s += ',';
    s += '"';
    s += words[i % 8];
    s += ' ';
    s += std::to_string(i);
    s += '"';
  }
  return s + "]";
}

// 100,000 empty containers: the cost of a container itself.
std::string make_empties(const char* empty) {
  std::string s = "[";
  for (int i = 0; i < 100000; ++i) {
    if (i) s += ',';
    s += empty;
  }
  return s + "]";
}

// A rule pack of `bytes` text: the full test pack with its named sections
// repeated under new names.
std::string make_pack(size_t bytes) {
  std::ifstream in(std::string(ZEFA_TEST_DATA) + "/rules_full.json", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  const Value base = zefa::testing::parse_or_abort(text.str());
  Value pack = base;
  auto& root = pack.obj_mut();
  size_t size = base.dump().size();
  for (int round = 1; size < bytes; ++round) {
    for (const char* section : {"platforms", "entities", "templates", "functions", "quirks", "maps", "overrides"}) {
      for (const auto& m : base[section].obj()) {
        std::string key = std::string(m.name()) + "_" + std::to_string(round);
        size += key.size() + m.value.dump().size() + 4;
        root[section].obj_mut().insert_or_assign(key, m.value);
      }
    }
  }
  return pack.dump();
}

const char* kNames[] = {"objects", "numbers", "strings", "[{},...]", "[[],...]", "pack 1 MB", "pack 10 MB"};
constexpr int kCorpora = 7;

const std::string& corpus(int which) {
  static const std::string docs[] = {make_objects(),     make_numbers(),       make_strings(),     make_empties("{}"),
                                     make_empties("[]"), make_pack(1u << 20), make_pack(10u << 20)};
  return docs[which];
}

// Heap bytes in use, chunk overhead included.
[[maybe_unused]] size_t heap_in_use() {
  struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;
}

void label(benchmark::State& st) {
  st.SetLabel(kNames[st.range(0)]);
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * corpus(static_cast<int>(st.range(0))).size()));
}

void BM_ZefaParse(benchmark::State& st) {
  const std::string& doc = corpus(static_cast<int>(st.range(0)));
  // Destroying the previous document is left out of the timing.
  Value keep;
  for (auto _ : st) {
    auto v = zefa::json::parse(doc);
    if (!v) st.SkipWithError(v.error().to_string().c_str());
    st.PauseTiming();
    keep = std::move(v).value();
    keep = Value();
    st.ResumeTiming();
  }
  label(st);
}

void BM_ZefaParseFree(benchmark::State& st) {
  const std::string& doc = corpus(static_cast<int>(st.range(0)));
  for (auto _ : st) {
    auto v = zefa::json::parse(doc);
    benchmark::DoNotOptimize(v);
  }
  label(st);
}

void BM_ZefaFree(benchmark::State& st) {
  const std::string& doc = corpus(static_cast<int>(st.range(0)));
  for (auto _ : st) {
    st.PauseTiming();
    Value v = zefa::testing::parse_or_abort(doc);
    st.ResumeTiming();
    v = Value();
    benchmark::DoNotOptimize(v);
  }
  label(st);
}

void BM_ZefaWrite(benchmark::State& st) {
  const std::string& doc = corpus(static_cast<int>(st.range(0)));
  const Value v = zefa::testing::parse_or_abort(doc);
  for (auto _ : st) {
    std::string out;
    v.dump_to(out);
    benchmark::DoNotOptimize(out);
  }
  label(st);
}

void BM_ZefaCopy(benchmark::State& st) {
  const std::string& doc = corpus(0);
  const Value v = zefa::testing::parse_or_abort(doc);
  for (auto _ : st) {
    Value copy = v;
    benchmark::DoNotOptimize(copy);
  }
  st.SetLabel("copy of a " + std::to_string(doc.size() >> 10) + " KiB document");
}

void BM_ZefaCopyAndWrite(benchmark::State& st) {
  const std::string& doc = corpus(0);
  const Value v = zefa::testing::parse_or_abort(doc);
  for (auto _ : st) {
    Value copy = v;
    copy.obj_mut().insert_or_assign("device_7", 1);
    benchmark::DoNotOptimize(copy);
  }
  st.SetLabel("copy of a " + std::to_string(doc.size() >> 10) + " KiB document plus one write to its 2,000-member root");
}

BENCHMARK(BM_ZefaParse)->DenseRange(0, kCorpora - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZefaWrite)->DenseRange(0, kCorpora - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZefaParseFree)->DenseRange(0, kCorpora - 1)->Unit(benchmark::kMillisecond);
// A fixed count: each timed free needs an untimed parse, and small frees would
// otherwise take millions of them to fill the minimum time.
BENCHMARK(BM_ZefaFree)->DenseRange(0, kCorpora - 1)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZefaCopy);
BENCHMARK(BM_ZefaCopyAndWrite);

// A pack kept and dropped by the registry, through the C API: its request
// parsed, validated, hashed, installed, then removed and freed. Beside
// RapidJSON's parse + free of the same text (the pack corpora).
void BM_ZefaInstallRemove(benchmark::State& st) {
  const std::string install = R"({"op":"install_rules","rules_id":"bench","rules":)" +
                              corpus(static_cast<int>(st.range(0))) + "}";
  const char* remove = R"({"op":"remove_rules","rules_id":"bench"})";
  for (auto _ : st) {
    for (const char* req : {install.c_str(), remove}) {
      char* reply = zefa_engine_eval(req);
      if (std::string_view(reply) != R"({"ok":true,"value":true})") std::abort();
      zefa_engine_free(reply);
    }
  }
  label(st);
}
BENCHMARK(BM_ZefaInstallRemove)->DenseRange(5, kCorpora - 1)->Unit(benchmark::kMillisecond);

#ifdef ZEFA_HAVE_RAPIDJSON
constexpr unsigned kRapidFlags = rapidjson::kParseFullPrecisionFlag;

void BM_RapidParse(benchmark::State& st) {
  const std::string& doc = corpus(static_cast<int>(st.range(0)));
  for (auto _ : st) {
    auto* d = new rapidjson::Document;
    d->Parse<kRapidFlags>(doc.c_str(), doc.size());
    if (d->HasParseError()) st.SkipWithError("rapidjson parse error");
    benchmark::DoNotOptimize(d);
    st.PauseTiming();
    delete d;
    st.ResumeTiming();
  }
  label(st);
}

void BM_RapidParseFree(benchmark::State& st) {
  const std::string& doc = corpus(static_cast<int>(st.range(0)));
  for (auto _ : st) {
    rapidjson::Document d;
    d.Parse<kRapidFlags>(doc.c_str(), doc.size());
    benchmark::DoNotOptimize(d);
  }
  label(st);
}

void BM_RapidFree(benchmark::State& st) {
  const std::string& doc = corpus(static_cast<int>(st.range(0)));
  for (auto _ : st) {
    st.PauseTiming();
    auto* d = new rapidjson::Document;
    d->Parse<kRapidFlags>(doc.c_str(), doc.size());
    st.ResumeTiming();
    delete d;
  }
  label(st);
}

void BM_RapidWrite(benchmark::State& st) {
  const std::string& doc = corpus(static_cast<int>(st.range(0)));
  rapidjson::Document d;
  d.Parse<kRapidFlags>(doc.c_str(), doc.size());
  for (auto _ : st) {
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    d.Accept(w);
    benchmark::DoNotOptimize(buf);
  }
  label(st);
}

// Counters: zefa_B, the heap our parsed document keeps; rapid_B, the bytes
// RapidJSON's allocator hands out for its DOM (its pool's chunks hold a
// little more); ratio = zefa_B / rapid_B; text_B, the document's text.
void BM_DomMemory(benchmark::State& st) {
  const std::string& doc = corpus(static_cast<int>(st.range(0)));
  size_t ours = 0, theirs = 0;
  for (auto _ : st) {
    malloc_trim(0);
    const size_t before = heap_in_use();
    Value v = zefa::testing::parse_or_abort(doc);
    ours = heap_in_use() - before;
    rapidjson::Document d;
    d.Parse<kRapidFlags>(doc.c_str(), doc.size());
    theirs = d.GetAllocator().Size();
  }
  st.counters["zefa_B"] = static_cast<double>(ours);
  st.counters["rapid_B"] = static_cast<double>(theirs);
  st.counters["ratio"] = static_cast<double>(ours) / static_cast<double>(theirs);
  st.counters["text_B"] = static_cast<double>(doc.size());
  st.SetLabel(kNames[st.range(0)]);
}

BENCHMARK(BM_RapidParse)->DenseRange(0, kCorpora - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidWrite)->DenseRange(0, kCorpora - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidParseFree)->DenseRange(0, kCorpora - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidFree)->DenseRange(0, kCorpora - 1)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DomMemory)->DenseRange(0, kCorpora - 1)->Iterations(1);
#endif

}  // namespace
