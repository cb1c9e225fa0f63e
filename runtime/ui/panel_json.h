// A small, strict JSON reader for the panel file, in plain C++: the file is read once at
// every start, and a document tree of our own costs a fraction of Qt's, whose values are
// built for editing and writing back, which the panel never does.
//
// It takes UTF-8 bytes as RFC 8259 has them and nothing more lenient: no comments, trailing
// commas, single quotes, NaN or leading zeros. Two rules go beyond it: a key given twice in
// one object is refused (a panel file with two "rect"s for a control is a mistake, not a
// choice of the last), and a leading UTF-8 byte order mark is skipped, as editors on
// Windows write one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace panel_json {

struct Member;

class Value {
  public:
    using Array = std::vector<Value>;
    using Object = std::vector<Member>;  // in file order, each key once

    // Defined below Member: a list of members can be made only once Member is complete.
    Value();
    explicit Value(bool flag);
    explicit Value(double number);
    explicit Value(std::string text);
    explicit Value(Array items);
    explicit Value(Object members);

    bool isNull() const { return std::holds_alternative<std::nullptr_t>(data_); }
    // Each of these is null when the value is of another type.
    const bool* flag() const { return std::get_if<bool>(&data_); }
    const double* number() const { return std::get_if<double>(&data_); }
    const std::string* text() const { return std::get_if<std::string>(&data_); }
    const Array* array() const { return std::get_if<Array>(&data_); }
    const Object* object() const { return std::get_if<Object>(&data_); }

    // The member's value, or null when this is no object or has no such key. Objects of a
    // panel file have a handful of keys, where a look along them beats any index.
    const Value* find(std::string_view key) const;

  private:
    std::variant<std::nullptr_t, bool, double, std::string, Array, Object> data_;
};

struct Member {
    std::string key;
    Value value;
};

inline Value::Value() = default;
inline Value::Value(bool flag) : data_(flag) {}
inline Value::Value(double number) : data_(number) {}
inline Value::Value(std::string text) : data_(std::move(text)) {}
inline Value::Value(Array items) : data_(std::move(items)) {}
inline Value::Value(Object members) : data_(std::move(members)) {}

// Why a document was refused, and the offset of the byte at fault from the file's start.
struct ParseError {
    std::string reason;
    std::size_t offset = 0;
};

// Objects and arrays may nest this deep, so that a hostile file cannot exhaust the stack.
constexpr int maximumDepth = 64;

// Reads one document from bytes; on refusal returns false with error set and the document
// left as it was.
bool Parse(std::string_view bytes, Value& document, ParseError& error);

}  // namespace panel_json
