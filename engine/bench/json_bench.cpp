// JSON core against RapidJSON's DOM on the same generated corpus, in one run.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "json.hpp"
#include "testing.hpp"

#ifdef ZEFA_HAVE_RAPIDJSON
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#endif

namespace {

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

const std::string& corpus(int which) {
  static const std::string docs[] = {make_objects(), make_numbers(), make_strings()};
  return docs[which];
}
const char* kNames[] = {"objects", "numbers", "strings"};

void BM_ZefaParse(benchmark::State& st) {
  const std::string& doc = corpus(static_cast<int>(st.range(0)));
  for (auto _ : st) {
    auto v = zefa::json::parse(doc);
    if (!v) st.SkipWithError(v.error().to_string().c_str());
    benchmark::DoNotOptimize(v);
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * doc.size()));
  st.SetLabel(kNames[st.range(0)]);
}

void BM_ZefaWrite(benchmark::State& st) {
  const std::string& doc = corpus(static_cast<int>(st.range(0)));
  const zefa::json::Value v = zefa::testing::parse_or_abort(doc);
  size_t n = 0;
  for (auto _ : st) {
    std::string out;
    v.dump_to(out);
    n = out.size();
    benchmark::DoNotOptimize(out);
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * n));
  st.SetLabel(kNames[st.range(0)]);
}

void BM_ZefaCopy(benchmark::State& st) {
  const std::string& doc = corpus(0);
  const zefa::json::Value v = zefa::testing::parse_or_abort(doc);
  for (auto _ : st) {
    zefa::json::Value copy = v;
    benchmark::DoNotOptimize(copy);
  }
  st.SetLabel("copy of a " + std::to_string(doc.size() >> 10) + " KiB document");
}

void BM_ZefaCopyAndWrite(benchmark::State& st) {
  const std::string& doc = corpus(0);
  const zefa::json::Value v = zefa::testing::parse_or_abort(doc);
  for (auto _ : st) {
    zefa::json::Value copy = v;
    copy.obj_mut().insert_or_assign("device_7", 1);
    benchmark::DoNotOptimize(copy);
  }
  st.SetLabel("copy of a " + std::to_string(doc.size() >> 10) + " KiB document plus one write to its 2,000-member root");
}

#ifdef ZEFA_HAVE_RAPIDJSON
void BM_RapidParse(benchmark::State& st) {
  const std::string& doc = corpus(static_cast<int>(st.range(0)));
  for (auto _ : st) {
    rapidjson::Document d;
    d.Parse<rapidjson::kParseFullPrecisionFlag>(doc.c_str(), doc.size());
    if (d.HasParseError()) st.SkipWithError("rapidjson parse error");
    benchmark::DoNotOptimize(d);
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * doc.size()));
  st.SetLabel(kNames[st.range(0)]);
}

void BM_RapidWrite(benchmark::State& st) {
  const std::string& doc = corpus(static_cast<int>(st.range(0)));
  rapidjson::Document d;
  d.Parse<rapidjson::kParseFullPrecisionFlag>(doc.c_str(), doc.size());
  size_t n = 0;
  for (auto _ : st) {
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    d.Accept(w);
    n = buf.GetSize();
    benchmark::DoNotOptimize(buf);
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * n));
  st.SetLabel(kNames[st.range(0)]);
}
BENCHMARK(BM_RapidParse)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidWrite)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
#endif

BENCHMARK(BM_ZefaParse)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZefaWrite)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZefaCopy);
BENCHMARK(BM_ZefaCopyAndWrite);

}  // namespace
