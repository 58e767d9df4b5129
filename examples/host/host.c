/*
 * A small host of the zefa engine. It installs a rule pack, builds a driver
 * for one device, feeds it a session of inputs and carries out what the
 * driver answers, printing what a real host would do. It runs the session
 * twice: with a stateless driver ("create", "handle") and with a live one
 * ("open", "drive", "snapshot", "close").
 *
 *   zefa-host SETUP.jsonl SESSION.jsonl
 *
 * SETUP holds requests as the files of examples/ do: the host sends its
 * "install_rules" requests as they are and takes "rules_id", "device" and
 * "options" from its first "create" or "open" request, which must name its
 * pack by "rules_id": a setup file whose request carries the pack inline as
 * "rules" is refused. SESSION holds one event a line: {"now":T,"input":INPUT},
 * {"now":T} to let the clock run to T, or {"now":T,"restart":true} to
 * restart the host at T. Lines starting with '#' are comments in both.
 *
 * Built with -DHOST_DLOPEN, it loads the library with dlopen instead of
 * being linked with it.
 */
#define _POSIX_C_SOURCE 200809L /* getline, strdup, dlopen */

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <zefa_engine.h>

/* --- The library --------------------------------------------------------- */

#ifdef HOST_DLOPEN
#include <dlfcn.h>

static char* (*engine_eval)(const char* request);
static void (*engine_free)(char* reply);

static int load_engine(void) {
  /* The soname: its number is ZEFA_ENGINE_SOVERSION. */
  void* lib = dlopen("libzefa_engine.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    fprintf(stderr, "%s\n", dlerror());
    return 0;
  }
  engine_eval = (char* (*)(const char*))dlsym(lib, "zefa_engine_eval");
  engine_free = (void (*)(char*))dlsym(lib, "zefa_engine_free");
  return engine_eval && engine_free;
}
#else
static char* (*const engine_eval)(const char* request) = zefa_engine_eval;
static void (*const engine_free)(char* reply) = zefa_engine_free;

static int load_engine(void) { return 1; }
#endif

/* --- Reading replies ----------------------------------------------------- */

/* A reply is valid JSON written by the library, so finding a member only
 * needs to know where each value ends. Values are handed around as pointers
 * into the reply text and printed or copied from there as they are. */

static const char* skip_space(const char* p) {
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') p++;
  return p;
}

/* Where the JSON value starting at p ends. */
static const char* value_end(const char* p) {
  int depth = 0;
  p = skip_space(p);
  while (*p) {
    if (*p == '"') {
      for (p++; *p && *p != '"'; p++)
        if (*p == '\\' && p[1]) p++;
    } else if (*p == '{' || *p == '[') {
      depth++;
    } else if (*p == '}' || *p == ']') {
      depth--;
    } else if (depth == 0) { /* a number, true, false or null */
      while (p[1] && !strchr(",:]} \t\n\r", p[1])) p++;
    }
    if (*p) p++;
    if (depth == 0) break;
  }
  return p;
}

/* The value of the member `name` of the object at p, or NULL. */
static const char* member(const char* p, const char* name) {
  size_t n = strlen(name);
  p = skip_space(p);
  if (*p != '{') return NULL;
  for (p = skip_space(p + 1); *p == '"'; p = skip_space(p)) {
    const char* key = p + 1;
    const char* value = skip_space(skip_space(value_end(p)) + 1);
    if (strncmp(key, name, n) == 0 && key[n] == '"') return value;
    p = skip_space(value_end(value));
    if (*p == ',') p++;
  }
  return NULL;
}

/* The elements of the array, or the member names of the object, that *at
 * starts: each call answers the next one, NULL after the last. */
static const char* next_item(const char** at) {
  const char* p = skip_space(*at);
  if (*p == '[' || *p == '{' || *p == ',') p = skip_space(p + 1);
  if (*p == ']' || *p == '}' || *p == '\0') return NULL;
  const char* end = skip_space(value_end(p));
  if (*end == ':') end = value_end(end + 1); /* skip a member's value */
  *at = end;
  return p;
}

static int length(const char* value) { return (int)(value_end(value) - value); }

static int is(const char* value, const char* text) {
  return value && strncmp(value, text, strlen(text)) == 0;
}

static void* need(void* p) {
  if (!p) abort();
  return p;
}

/* A copy of the JSON value at p, as its own string. */
static char* copy_value(const char* p) {
  int n = length(p);
  char* s = need(malloc((size_t)n + 1));
  memcpy(s, p, (size_t)n);
  s[n] = '\0';
  return s;
}

/* A new string formatted like printf; the caller frees it with free(). */
static char* format_list(const char* fmt, va_list args) {
  va_list again;
  va_copy(again, args);
  int n = vsnprintf(NULL, 0, fmt, args);
  char* s = need(malloc((size_t)n + 1));
  vsnprintf(s, (size_t)n + 1, fmt, again);
  va_end(again);
  return s;
}

static char* format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  char* s = format_list(fmt, args);
  va_end(args);
  return s;
}

/* --- Errors -------------------------------------------------------------- */

/* A host decides on the fixed texts and prefixes of error messages only; the
 * rest of a message is for a person to read. */
static const struct {
  const char* text;
  int whole; /* the message is exactly this text; else it starts with it */
  const char* meaning;
} kErrors[] = {
    {"engine panic", 1, "a fault inside the library: report it"},
    {"rule registry poisoned", 1, "installed packs are lost to this process: report it"},
    {"driver registry poisoned", 1, "live drivers are lost to this process: report it"},
    {"driver poisoned", 1, "close the driver and open the device again"},
    {"invalid driver state", 1, "the stored state document is damaged"},
    {"driver rules do not match the supplied rule pack", 1, "build the driver again and carry the old one"},
    {"rules are required or rules_id is not registered", 1, "install the rule pack first"},
    {"rules ", 0, "the rule pack failed its check"},
    {"override: ", 0, "an override block is wrong"},
    {"unsupported: ", 0, "the device cannot do it"},
    {"input: ", 0, "the input could not be read"},
    {"handle: no open driver ", 0, "no live driver has this handle"},
    {"old: no open driver ", 0, "no live driver has the old handle"},
};

/* The error of a failed reply: what it means to the host, and the message. */
static void report_error(const char* error) {
  const char* text = error + 1; /* inside the quotes */
  int n = length(error) - 2;
  const char* meaning = "see the message";
  for (size_t i = 0; i < sizeof kErrors / sizeof kErrors[0]; i++) {
    int k = (int)strlen(kErrors[i].text);
    if (strncmp(text, kErrors[i].text, (size_t)k) == 0 && (!kErrors[i].whole || k == n)) {
      meaning = kErrors[i].meaning;
      break;
    }
  }
  printf("  failed: %s: %.*s\n", meaning, length(error), error);
}

/* Sends one request, formatted like printf. Answers the reply, with *value
 * pointing at its "value", or NULL after reporting its error. The request
 * text stays the host's; the reply is the caller's until it hands it to
 * engine_free, which alone may release it (a failed one is released here). */
static char* call(const char** value, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  char* request = format_list(fmt, args);
  va_end(args);
  char* reply = engine_eval(request);
  free(request);
  if (is(member(reply, "ok"), "true")) {
    *value = member(reply, "value");
    return reply;
  }
  report_error(member(reply, "error"));
  engine_free(reply);
  return NULL;
}

/* --- One device ---------------------------------------------------------- */

typedef struct {
  char* name; /* as the JSON string the driver wrote, quotes included */
  double due;
} Timer;

typedef struct {
  char* rules_id;        /* JSON string */
  char* state;           /* stateless driver: its state document, whole */
  char* handle;          /* live driver: its handle */
  char* settings;        /* the last settings block */
  char* descriptor;      /* the last descriptor: a driver sends it once */
  Timer timers[16];      /* plenty for the drivers of this example */
  int armed;
} Device;

static void cancel_timer(Device* d, const char* name) {
  for (int i = 0; i < d->armed; i++)
    if (strcmp(d->timers[i].name, name) == 0) {
      free(d->timers[i].name);
      d->timers[i] = d->timers[--d->armed];
      return;
    }
}

static void set_timer(Device* d, const char* name, double due) {
  cancel_timer(d, name); /* a timer named again is armed anew */
  if (d->armed == (int)(sizeof d->timers / sizeof d->timers[0])) abort();
  d->timers[d->armed].name = need(strdup(name));
  d->timers[d->armed++].due = due;
}

/* Publishes the device: here, prints its properties. */
static void describe(const char* how, const char* desc) {
  const char* props = member(desc, "props");
  const char* name;
  printf("  %s; properties:", how);
  while ((name = next_item(&props))) printf(" %.*s", length(name), name);
  printf("\n");
}

/* Carries out a driver's outputs, in their order. */
static void carry_out(Device* d, const char* outputs, double now) {
  const char* out;
  while ((out = next_item(&outputs))) {
    const char* type = member(out, "type");
    const char* prop = member(out, "prop");
    if (is(type, "\"descriptor\"")) {
      free(d->descriptor);
      d->descriptor = copy_value(member(out, "desc"));
      describe("describe the device", d->descriptor);
    } else if (is(type, "\"value\"")) {
      const char* value = member(out, "value");
      printf("  publish %.*s = %.*s\n", length(prop), prop, length(value), value);
    } else if (is(type, "\"absent\"")) {
      printf("  publish %.*s as having no value\n", length(prop), prop);
    } else if (is(type, "\"event\"")) {
      const char* kind = member(out, "kind");
      printf("  fire event %.*s %.*s\n", length(prop), prop, length(kind), kind);
    } else if (is(type, "\"send_message\"")) {
      const char* json = member(out, "json");
      printf("  send to the device: %.*s\n", length(json), json);
    } else if (is(type, "\"reject\"")) {
      const char* code = member(out, "code");
      const char* reason = member(out, "reason");
      printf("  refuse the command for %.*s: %.*s, %.*s\n", length(prop), prop, length(code), code,
             length(reason), reason);
    } else if (is(type, "\"set_timer\"")) {
      char* name = copy_value(member(out, "name"));
      double due = now + strtod(member(out, "after"), NULL);
      set_timer(d, name, due);
      printf("  arm timer %s for t=%g\n", name, due);
      free(name);
    } else if (is(type, "\"cancel_timer\"")) {
      char* name = copy_value(member(out, "name"));
      cancel_timer(d, name);
      printf("  cancel timer %s\n", name);
      free(name);
    } else if (is(type, "\"settings_changed\"")) {
      free(d->settings);
      d->settings = copy_value(member(out, "block"));
      printf("  keep the settings block %s as the device's own override block\n", d->settings);
    }
  }
}

/* Hands one input to the driver and carries out its outputs. */
static void feed(Device* d, double now, const char* input) {
  const char* value;
  char* reply =
      d->handle ? call(&value, "{\"op\":\"drive\",\"handle\":%s,\"now\":%.17g,\"input\":%s}", d->handle, now, input)
                : call(&value, "{\"op\":\"handle\",\"rules_id\":%s,\"driver\":%s,\"now\":%.17g,\"input\":%s}",
                       d->rules_id, d->state, now, input);
  if (!reply) return; /* a failed input changed nothing: keep the stored document */
  if (!d->handle) {     /* store the new document whole, in place of the old one */
    free(d->state);
    d->state = copy_value(member(value, "driver"));
  }
  carry_out(d, member(value, "outputs"), now);
  engine_free(reply);
}

/* Fires, in the order they fall due, the timers due by `now`. */
static void run_clock(Device* d, double now) {
  for (;;) {
    int first = -1;
    for (int i = 0; i < d->armed; i++)
      if (d->timers[i].due <= now && (first < 0 || d->timers[i].due < d->timers[first].due)) first = i;
    if (first < 0) return;
    double due = d->timers[first].due;
    char* input = format("{\"type\":\"timer\",\"name\":%s}", d->timers[first].name);
    cancel_timer(d, d->timers[first].name);
    printf("t=%g %s\n", due, input);
    feed(d, due, input);
    free(input);
  }
}

/* --- The session --------------------------------------------------------- */

/* The next line of f that is not blank or a comment, or NULL at the end. */
static char* next_line(FILE* f, char** line, size_t* cap) {
  while (getline(line, cap, f) >= 0)
    if ((*line)[0] != '#' && *skip_space(*line)) return *line;
  return NULL;
}

/* Sends the "install_rules" requests of the setup file. Answers a copy of its
 * first "create" or "open" request, or NULL; the caller frees it. */
static char* install_packs(FILE* setup) {
  const char* value;
  char* line = NULL;
  size_t cap = 0;
  char* create = NULL;
  rewind(setup);
  while (next_line(setup, &line, &cap)) {
    const char* op = member(line, "op");
    if (is(op, "\"install_rules\"")) {
      char* reply = call(&value, "%s", line);
      if (!reply) continue; /* reported; building the driver fails in turn */
      engine_free(reply);
      printf("install rule pack %.*s\n", length(member(line, "rules_id")), member(line, "rules_id"));
    } else if ((is(op, "\"create\"") || is(op, "\"open\"")) && !create) {
      create = need(strdup(line));
    }
  }
  free(line);
  return create;
}

static void forget(Device* d) {
  free(d->rules_id);
  free(d->state);
  free(d->handle);
  free(d->settings);
  free(d->descriptor);
  while (d->armed) cancel_timer(d, d->timers[0].name);
}

/* --- A restart ----------------------------------------------------------- */

/* What the host keeps of a device across a restart, as the text it would
 * write to its store. The state document names the armed timers but not
 * when they fall due, and a driver sends its descriptor once, so the host
 * keeps both itself. */
typedef struct {
  char* rules_id;
  char* state; /* of a live driver: its snapshot */
  char* settings;
  char* descriptor;
  char* timers; /* [{"name":NAME,"due":T},...] */
} Kept;

/* Takes out of d what the host keeps. No request builds a live driver from
 * a stored document, so a live driver's snapshot is kept as the document of
 * a stateless one; the library of a new process would have forgotten the
 * live driver, which this one closes. */
static Kept keep(Device* d) {
  const char* value;
  char* reply;
  if (d->handle) {
    reply = need(call(&value, "{\"op\":\"snapshot\",\"handle\":%s}", d->handle));
    d->state = copy_value(value);
    engine_free(reply);
    reply = need(call(&value, "{\"op\":\"close\",\"handle\":%s}", d->handle));
    printf("  keep the driver's snapshot as its state document; close the driver: %.*s\n", length(value), value);
    engine_free(reply);
  }
  char* timers = need(strdup(""));
  for (int i = 0; i < d->armed; i++) {
    char* more = format("%s%s{\"name\":%s,\"due\":%.17g}", timers, i ? "," : "", d->timers[i].name, d->timers[i].due);
    free(timers);
    timers = more;
  }
  Kept k = {d->rules_id, d->state, d->settings, d->descriptor, format("[%s]", timers)};
  free(timers);
  d->rules_id = d->state = d->settings = d->descriptor = NULL;
  printf("  keep the state document, the settings block, the descriptor and each armed timer's due time\n");
  return k;
}

/* The host restarts: it drops everything but what it kept and starts again
 * from that, as from its store. A new process of the library has no packs,
 * so the host installs them again. */
static void restart(Device* d, FILE* setup) {
  Kept k = keep(d);
  forget(d);
  free(install_packs(setup));
  *d = (Device){.rules_id = k.rules_id, .state = k.state, .settings = k.settings, .descriptor = k.descriptor};
  if (d->descriptor) describe("describe the device as kept", d->descriptor);
  const char* at = k.timers;
  const char* timer;
  while ((timer = next_item(&at))) {
    char* name = copy_value(member(timer, "name"));
    double due = strtod(member(timer, "due"), NULL);
    set_timer(d, name, due);
    printf("  arm timer %s for t=%g\n", name, due);
    free(name);
  }
  free(k.timers);
}

static void run_session(Device* d, FILE* session, FILE* setup) {
  char* line = NULL;
  size_t cap = 0;
  rewind(session);
  while (next_line(session, &line, &cap)) {
    const char* at = member(line, "now");
    if (!at) {
      fprintf(stderr, "zefa-host: a session line without \"now\": %s", line);
      continue;
    }
    double now = strtod(at, NULL);
    run_clock(d, now);
    if (is(member(line, "restart"), "true")) {
      printf("t=%g restart\n", now);
      restart(d, setup);
      continue;
    }
    const char* input = member(line, "input");
    if (!input) continue;
    char* text = copy_value(input);
    printf("t=%g %s\n", now, text);
    feed(d, now, text);
    free(text);
  }
  free(line);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: zefa-host SETUP.jsonl SESSION.jsonl\n");
    return 2;
  }
  FILE* setup = fopen(argv[1], "r");
  FILE* session = fopen(argv[2], "r");
  if (!setup || !session) {
    perror("zefa-host");
    return 1;
  }
  if (!load_engine()) return 1;

  /* The rule pack, and the device to drive. */
  const char* value;
  char* reply;
  char* create = install_packs(setup);
  const char* device = create ? member(create, "device") : NULL;
  if (!device) {
    fprintf(stderr, "zefa-host: no \"create\" or \"open\" request with a \"device\" in %s\n", argv[1]);
    free(create);
    return 1;
  }
  /* The requests that build and drive the driver name the pack by its
   * "rules_id". A pack inline as "rules" is installed nowhere, and would win
   * over a "rules_id" beside it: such a setup file is refused. */
  const char* rules = member(create, "rules");
  if (!member(create, "rules_id") || (rules && !is(rules, "null"))) {
    fprintf(stderr, "zefa-host: the first \"create\" or \"open\" request in %s must name its pack by \"rules_id\", "
            "not carry it inline as \"rules\"\n", argv[1]);
    free(create);
    return 1;
  }
  const char* options = member(create, "options");
  char* device_options = format("\"device\":%.*s,\"options\":%.*s", length(device), device,
                                options ? length(options) : 4, options ? options : "null");

  printf("== a stateless driver\n");
  Device d = {.rules_id = copy_value(member(create, "rules_id"))};
  if (!(reply = call(&value, "{\"op\":\"create\",\"rules_id\":%s,%s}", d.rules_id, device_options))) return 1;
  d.state = copy_value(member(value, "driver"));
  engine_free(reply);
  run_session(&d, session, setup);
  forget(&d);

  printf("== a live driver\n");
  d = (Device){.rules_id = copy_value(member(create, "rules_id"))};
  if (!(reply = call(&value, "{\"op\":\"open\",\"rules_id\":%s,%s}", d.rules_id, device_options))) return 1;
  d.handle = copy_value(member(value, "handle"));
  engine_free(reply);
  run_session(&d, session, setup);
  if (d.handle) { /* still live: no restart took it out of the library */
    if (!(reply = call(&value, "{\"op\":\"close\",\"handle\":%s}", d.handle))) return 1;
    printf("close the driver: %.*s\n", length(value), value);
    engine_free(reply);
  }
  forget(&d);

  free(device_options);
  free(create);
  fclose(setup);
  fclose(session);
  return 0;
}
