#pragma once
#include <string>
#include <utility>
#include <vector>

// The little JSON that vextool writes and reads back: the lines of
// `vextool run`, which `run --resume` and `dupes` read again.
namespace json {

// A quoted string with the escapes JSON requires; other bytes (file names
// need not be UTF-8) pass through unchanged.
std::string quote(const std::string& text);
// %.17g, or null for a value JSON cannot hold (NaN, infinity).
std::string number(double value);

struct Value {
    enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
    Type type = Type::kNull;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> members;

    // The member of an object, or null when absent or not an object.
    const Value* get(const std::string& key) const;
    bool isString() const { return type == Type::kString; }
    bool isArray() const { return type == Type::kArray; }
    bool isNumber() const { return type == Type::kNumber; }
};

// Parses one complete JSON text. Fails on anything else, on trailing
// content and past 64 levels of nesting.
bool parse(const std::string& text, Value& value);

}  // namespace json
