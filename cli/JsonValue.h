// A small JSON reader for what the writer itself prints: the summary of a
// write and the progress events a gang write's children send their parent.
//
// Contract
// - ParseJson accepts one JSON value (RFC 8259) with white space around it
//   and nothing else; false for anything malformed or nested deeper than 32
//   levels.
// - Strings come out as UTF-8; \u escapes, surrogate pairs included, are
//   decoded, a lone surrogate becomes U+FFFD.
// - Numbers are kept as double.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<JsonValue> array;
    std::vector<std::pair<std::string, JsonValue>> object;

    bool IsNull() const { return type == Type::Null; }
    // The member `key` of an object; nullptr when absent or not an object.
    const JsonValue* Get(const std::string& key) const;

    // Typed look-ups of members: empty when absent, null or of another type.
    std::optional<std::string> String(const std::string& key) const;
    std::optional<double> Number(const std::string& key) const;
    std::optional<bool> Bool(const std::string& key) const;
};

bool ParseJson(const std::string& text, JsonValue* out);
