// The rule-pack schema (version 1) as the library carries it. It is parsed
// once, on first use, by rules::schema::SCHEMA.
//
// Member order matters: "required" lists decide which missing section a
// failure names first.
#pragma once

#include <string_view>

namespace zefa::rules::schema {

inline constexpr std::string_view kText = R"json({
  "$schema": "https://json-schema.org/draft/2020-12/schema",
  "$id": "urn:zefa_interpreter:rule-pack:1",
  "title": "Zefa portable rule pack version 1",
  "type": "object",
  "required": [
    "version", "platforms", "entities", "unused", "templates", "functions",
    "quirks", "units", "host_units", "maps", "features", "constants",
    "cover_defaults", "cover_switches", "motion_property", "strategies"
  ],
  "properties": {
    "version": {"const": 1},
    "platforms": {
      "type": "object",
      "additionalProperties": {
        "type": "object",
        "required": ["table", "categories"],
        "properties": {
          "table": {"type": "string"},
          "categories": {"type": "object"}
        },
        "additionalProperties": false
      }
    },
    "entities": {
      "type": "object",
      "additionalProperties": {"$ref": "#/$defs/entity"}
    },
    "unused": {
      "type": "object",
      "required": ["role", "variants"],
      "properties": {
        "role": {"type": "string", "minLength": 1},
        "variants": {"type": "array", "items": {"$ref": "#/$defs/unused"}}
      },
      "additionalProperties": false
    },
    "layout_common": {"type": "object"},
    "identity_defaults": {"type": "object"},
    "templates": {"type": "object"},
    "functions": {
      "type": "object",
      "additionalProperties": {"$ref": "#/$defs/function"}
    },
    "quirks": {"type": "object"},
    "units": {"type": "object"},
    "host_units": {"type": "object"},
    "rw_roles": {"type": "array", "items": {"type": "string"}, "uniqueItems": true},
    "maps": {"type": "object"},
    "features": {"type": "object"},
    "constants": {
      "type": "object",
      "properties": {
        "manufacturer": {"type": "string"},
        "vacuum_return_mode": {"type": "string", "minLength": 1},
        "alarm_non_triggering_messages": {
          "type": "array",
          "items": {"type": "string", "minLength": 1}
        },
        "temperature_unit_dp": {"type": "string", "minLength": 1}
      }
    },
    "cover_defaults": {
      "type": "object",
      "properties": {
        "invert_position": {"type": "boolean"},
        "invert_set_position": {"type": "boolean"},
        "invert_control": {"type": "boolean"},
        "settle": {"type": "number"},
        "invert_tilt": {"type": "boolean"},
        "position_from_target": {"type": "boolean"},
        "state_source": {"enum": [null, "control", "inferred", "none"]},
        "invert_reported_motion": {"type": "boolean"}
      },
      "additionalProperties": false
    },
    "cover_switches": {
      "type": "object",
      "properties": {
        "invert_position": {"type": "string"},
        "invert_set_position": {"type": "string"},
        "invert_control": {"type": "string"},
        "settle": {"type": "string"},
        "invert_tilt": {"type": "string"},
        "position_from_target": {"type": "string"},
        "state_source": {"type": "string"},
        "invert_reported_motion": {"type": "string"}
      },
      "additionalProperties": false
    },
    "motion_property": {"type": "object"},
    "strategies": {"type": "array", "items": {"type": "string"}, "uniqueItems": true},
    "wind": {"type": "object"},
    "electricity": {"type": "object"},
    "meter_alarms": {"type": "object"},
    "overrides": {
      "type": "object",
      "additionalProperties": {"type": "object"}
    }
  },
  "additionalProperties": false,
  "$defs": {
    "entity": {
      "type": "object",
      "properties": {
        "params": {"type": "object"},
        "composite": {"type": "boolean"},
        "kind": {"type": "string", "minLength": 1},
        "expose": {"type": "boolean"},
        "update_all": {"type": "boolean"},
        "hazard": {},
        "role_order": {"type": "array", "items": {"type": "string"}, "uniqueItems": true},
        "cover": {"$ref": "#/$defs/cover"},
        "variants": {},
        "state": {},
        "actions": {"type": "object"},
        "layout": {},
        "finish": {}
      },
      "additionalProperties": false
    },
    "cover": {
      "type": "object",
      "required": ["position", "target", "instruction", "tilt", "words"],
      "properties": {
        "position": {"type": "array", "items": {"type": "string"}},
        "target": {"type": "string"},
        "instruction": {"type": "string"},
        "tilt": {"type": "string"},
        "words": {"type": "array", "items": {"type": "string"}}
      },
      "additionalProperties": false
    },
    "unused": {
      "type": "object",
      "required": ["when", "platform", "steps"],
      "properties": {
        "when": {},
        "platform": {"type": "string", "minLength": 1},
        "steps": {}
      },
      "additionalProperties": false
    },
    "function": {
      "type": "object",
      "required": ["params", "body"],
      "properties": {
        "params": {"type": "array", "items": {"type": "string"}, "uniqueItems": true},
        "body": {}
      },
      "additionalProperties": false
    }
  }
})json";

}  // namespace zefa::rules::schema
