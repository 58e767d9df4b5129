// zefa-soak: runs many mixed requests in one process, as a long-lived host
// does, and prints the resident size at regular counts, so that growth
// without bound shows.
//
//   zefa-soak [REQUESTS [EVERY]]     (defaults 1000000 and 100000)
//
// The mix, on the curtain-and-lamp pack of the tests: "create", stateless
// "handle" fed the document of the reply before, "open", "drive" with
// reports, commands and timers, "view", "snapshot", "carry_handle" and
// "close". Every live driver it opens it closes again. A reply that is not a
// success stops the run with exit code 1.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include <zefa_engine.h>

namespace {

std::string file_text(const char* name) {
  std::ifstream in(std::string(ZEFA_TEST_DATA) + "/" + name);
  std::ostringstream s;
  s << in.rdbuf();
  std::string text = s.str();
  // The request lines hold the files on one line.
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

long resident_kb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long count = 0;

// Runs one request; returns the reply when it succeeded, stops the run when not.
std::string run(const std::string& req) {
  char* reply = zefa_engine_eval(req.c_str());
  std::string text(reply);
  zefa_engine_free(reply);
  ++count;
  if (text.rfind("{\"ok\":true", 0) != 0) {
    std::fprintf(stderr, "zefa-soak: request %ld failed: %.200s\n  reply: %.300s\n", count, req.c_str(), text.c_str());
    std::exit(1);
  }
  return text;
}

// The text of the member `name` of a reply's value (an object or a number),
// found by its position: the replies are the engine's own compact text.
std::string member(const std::string& reply, const std::string& name) {
  const std::string key = "\"" + name + "\":";
  size_t at = reply.find(key);
  if (at == std::string::npos) return {};
  at += key.size();
  size_t end = at;
  if (reply[at] != '{') {
    end = reply.find_first_of(",}", at);
    return reply.substr(at, end - at);
  }
  int depth = 0;
  bool in_text = false;
  for (; end < reply.size(); ++end) {
    const char c = reply[end];
    if (in_text) {
      if (c == '\\') ++end;
      else if (c == '"') in_text = false;
    } else if (c == '"') {
      in_text = true;
    } else if (c == '{') {
      ++depth;
    } else if (c == '}' && --depth == 0) {
      break;
    }
  }
  return reply.substr(at, end + 1 - at);
}

}  // namespace

int main(int argc, char** argv) {
  const long total = argc > 1 ? std::atol(argv[1]) : 1000000;
  const long every = argc > 2 ? std::atol(argv[2]) : 100000;
  if (total <= 0 || every <= 0) {
    std::fputs("usage: zefa-soak [REQUESTS [EVERY]]\n", stderr);
    return 2;
  }
  const std::string device = file_text("curtain_lamp_device.json");
  const std::string built = R"(,"rules_id":"cl","device":)" + device +
                            R"(,"options":{"dpmap":{"1":"control","2":"percent_control","3":"percent_state",)"
                            R"("9":"fault","17":"add_ele","20":"switch_led","22":"bright_value","40":"child_lock",)"
                            R"("101":"switch_mode1"},"device_settings":true}})";
  const char* inputs[] = {
      R"({"type":"connected"})",
      R"({"type":"message","channel":"active","json":{"1":"stop","2":40,"3":40,"20":true,"22":500,"17":10,"t":1700000000}})",
      R"({"type":"command","prop":"position","value":60})",
      R"({"type":"message","channel":"passive","json":{"3":55}})",
      R"({"type":"command","prop":"brightness","value":30})",
      R"({"type":"timer","name":"c0:lamp_off"})",
      R"({"type":"message","channel":"active","json":{"101":"click","17":125,"t":1700000600}})",
      R"({"type":"disconnected"})"};
  constexpr int kInputs = sizeof inputs / sizeof *inputs;

  run(R"({"op":"install_rules","rules_id":"cl","rules":)" + file_text("curtain_lamp_pack.json") + "}");
  std::printf("requests  resident KiB\n");
  long next_report = every;
  int round = 0;
  std::string shared = member(run(R"({"op":"open")" + built), "handle");
  while (count < total) {
    // Stateless: a new document, carried through a few inputs.
    std::string doc = member(run(R"({"op":"create")" + built), "driver");
    for (int i = 0; i < 3; ++i) {
      const std::string reply = run(R"({"op":"handle","rules_id":"cl","now":)" + std::to_string(1000 + i) +
                                    R"(,"driver":)" + doc + R"(,"input":)" + inputs[(round + i) % kInputs] + "}");
      doc = member(reply, "driver");
    }
    // Live: a driver of its own for a few inputs, then closed.
    const std::string h = member(run(R"({"op":"open")" + built), "handle");
    for (int i = 0; i < kInputs; ++i)
      run(R"({"op":"drive","handle":)" + h + R"(,"now":)" + std::to_string(2000 + i) + R"(,"input":)" + inputs[i] + "}");
    run(R"({"op":"view","handle":)" + h + "}");
    run(R"({"op":"carry_handle","handle":)" + h + R"(,"old":)" + shared + "}");
    if (round % 4 == 0) run(R"({"op":"snapshot","handle":)" + h + "}");
    run(R"({"op":"close","handle":)" + h + "}");
    // The long-lived driver sees every input too, and is replaced now and then.
    run(R"({"op":"drive","handle":)" + shared + R"(,"now":3000,"input":)" + inputs[round % kInputs] + "}");
    if (++round % 1000 == 0) {
      run(R"({"op":"close","handle":)" + shared + "}");
      shared = member(run(R"({"op":"open")" + built), "handle");
    }
    while (count >= next_report) {
      std::printf("%8ld  %ld\n", next_report, resident_kb());
      std::fflush(stdout);
      next_report += every;
    }
  }
  run(R"({"op":"close","handle":)" + shared + "}");
  run(R"({"op":"remove_rules","rules_id":"cl"})");
  std::printf("%8ld  %ld (done; %d rounds)\n", count, resident_kb(), round);
  return 0;
}
