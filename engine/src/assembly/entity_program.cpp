// Entity programs on an existing plan: the state description and the action
// programs.
#include "assembly/entity.hpp"

#include <cmath>

#include "data/data.hpp"

namespace zefa::assembly {

using expr::Scope;

namespace entity {

Result<Value, std::string> state(const Plan& plan, const Value& status, const Value& rules, double total,
                                 Held held) {
  const Value* definition = rules["entities"].find(plan.platform);
  if (!definition) return Value::object();
  const Value& description = shared(rules, (*definition)["state"]);
  Scope scope = Entity{rules, plan.platform, *definition}.scope(plan, status, held);
  scope.push("total", std::isfinite(total) ? Value(total) : Value());
  for (const json::Member& bind : description["bind"].obj()) {
    ZEFA_TRY(Value v, scope.eval(bind.value));
    scope.push_key(bind.key, std::move(v));
  }
  json::Object fields;
  for (const json::Member& field : description["fields"].obj()) {
    ZEFA_TRY(Value v, scope.eval(field.value));
    fields.push_unique(field.key, std::move(v));
  }
  return Value(std::move(fields));
}

Result<json::Array> act(const Plan& plan, std::string_view action, const Value& args, const Value& status,
                        const Value& rules) {
  const Value* definition = rules["entities"].find(plan.platform);
  if (!definition) return fail(ErrorKind::Unsupported, "no write path");
  const Value& actions = shared(rules, (*definition)["actions"]);
  const Value* program = actions.find(action);
  if (!program) program = actions.find("*");
  if (!program) return fail(ErrorKind::Unsupported, "no write path");

  Result<Value, std::string> st = state(plan, status, rules, 0.0);
  if (!st.ok()) return fail(ErrorKind::Engine, std::move(st).error());
  Scope scope = Entity{rules, plan.platform, *definition}.scope(plan, status);
  scope.push("action", Value(action));
  scope.with("args", args);
  scope.push("state", std::move(st).value());

  Commands sink(plan);
  uint64_t budget = kStatements;
  ZEFA_CHECK(expr::run(shared(rules, *program), scope, sink, budget, 0));
  return std::move(sink.writes);
}

}  // namespace entity

Result<bool> Commands::exec(const Value& st, Scope& scope) {
  if (st.is_object()) {
    if (const Value* command = st.find("command")) {
      ZEFA_TRY(Value role, scope.eval((*command)["role"]));
      ZEFA_TRY(Value value, scope.eval((*command)["value"]));
      ZEFA_TRY(Value write, plan.cmd(role.str(), value));
      writes.push_back(std::move(write));
      return false;
    }
    if (const Value* send = st.find("send")) {
      ZEFA_TRY(Value code, scope.eval((*send)["code"]));
      ZEFA_TRY(Value value, scope.eval((*send)["value"]));
      json::Object write;
      write.push_unique(Value("code"), std::move(code));
      write.push_unique(Value("value"), std::move(value));
      writes.emplace_back(std::move(write));
      return false;
    }
    if (const Value* message = st.find("fail")) {
      ZEFA_TRY(Value text, scope.eval(*message));
      return fail(ErrorKind::Value, expr::text(text));
    }
  }
  return fail("unknown action statement " + st.dump());
}

}  // namespace zefa::assembly
