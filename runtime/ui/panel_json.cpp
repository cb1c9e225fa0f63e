// The panel file's JSON reader: one pass of recursive descent over the bytes, straight into
// the value tree. A refusal is thrown from where it is found and caught once in Parse, so
// that the readers of the parts need no error paths of their own.
#include "runtime/ui/panel_json.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <iterator>
#include <unordered_set>

namespace panel_json {

const Value* Value::find(std::string_view key) const {
    const Object* members = object();
    if (members == nullptr) {
        return nullptr;
    }
    for (const Member& member : *members) {
        if (member.key == key) {
            return &member.value;
        }
    }
    return nullptr;
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigit(char c) {
    if (IsDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void AppendCodePoint(std::string& text, char32_t code) {
    if (code < 0x80) {
        text += char(code);
    } else if (code < 0x800) {
        text += char(0xC0 | (code >> 6));
        text += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += char(0xE0 | (code >> 12));
        text += char(0x80 | ((code >> 6) & 0x3F));
        text += char(0x80 | (code & 0x3F));
    } else {
        text += char(0xF0 | (code >> 18));
        text += char(0x80 | ((code >> 12) & 0x3F));
        text += char(0x80 | ((code >> 6) & 0x3F));
        text += char(0x80 | (code & 0x3F));
    }
}

// What each byte is to the two loops that see most of a file, the one over white space and
// the one over a string's plain characters: one look in a table each instead of a chain of
// comparisons.
enum ByteClass : unsigned char { otherByte = 0, spaceByte = 1, plainByte = 2 };

constexpr std::array<unsigned char, 256> byteClasses = [] {
    std::array<unsigned char, 256> classes{};
    for (int c = 0x20; c < 0x80; ++c) {
        classes[std::size_t(c)] = plainByte;
    }
    classes['"'] = classes['\\'] = otherByte;
    classes[' '] = plainByte | spaceByte;
    classes['\t'] = classes['\n'] = classes['\r'] = spaceByte;
    return classes;
}();

unsigned char ClassOf(char c) {
    return byteClasses[static_cast<unsigned char>(c)];
}

// Beyond this many keys an object keeps a set of them for the check for a repeated key, so
// that a file of one huge object costs time in proportion to its size.
constexpr std::size_t keysSearchedInLine = 16;

class Reader {
  public:
    explicit Reader(std::string_view bytes)
        : begin_(bytes.data()), at_(begin_), end_(begin_ + bytes.size()) {}

    Value Document() {
        if (end_ - at_ >= 3 && std::memcmp(at_, "\xEF\xBB\xBF", 3) == 0) {
            at_ += 3;
        }
        SkipSpace();
        Value document = ParseValue(0);
        SkipSpace();
        if (at_ != end_) {
            Refuse("garbage after the document", at_);
        }
        return document;
    }

  private:
    [[noreturn]] void Refuse(std::string reason, const char* at) const {
        throw ParseError{std::move(reason), std::size_t(at - begin_)};
    }

    bool Next(char c) const { return at_ != end_ && *at_ == c; }

    void SkipSpace() {
        while (at_ != end_ && (ClassOf(*at_) & spaceByte) != 0) {
            ++at_;
        }
    }

    Value ParseValue(int depth) {
        if (at_ == end_) {
            Refuse("missing value", at_);
        }
        switch (*at_) {
            case '{':
                return ParseObject(depth + 1);
            case '[':
                return ParseArray(depth + 1);
            case '"':
                return Value(ParseString());
            case 't':
                return Literal("true", Value(true));
            case 'f':
                return Literal("false", Value(false));
            case 'n':
                return Literal("null", Value());
            default:
                if (*at_ == '-' || IsDigit(*at_)) {
                    return ParseNumber();
                }
                Refuse("missing value", at_);
        }
    }

    Value Literal(std::string_view word, Value value) {
        if (std::size_t(end_ - at_) < word.size() ||
            std::memcmp(at_, word.data(), word.size()) != 0) {
            Refuse("missing value", at_);
        }
        at_ += word.size();
        return value;
    }

    // Past the '[' or '{' of a list or an object nested depth deep.
    void Open(int depth) {
        if (depth > maximumDepth) {
            Refuse("too deeply nested", at_);
        }
        ++at_;
        SkipSpace();
    }

    // Whether another element comes before close, past the ',' that parts it from the one
    // before; past close when none does.
    bool Another(char close, bool first, const char* missing) {
        if (Next(close)) {
            ++at_;
            return false;
        }
        if (!first) {
            if (!Next(',')) {
                Refuse(missing, at_);
            }
            ++at_;
            SkipSpace();
        }
        return true;
    }

    // Elements and members gather on one stack for the whole document, and each array or
    // object takes its own in one allocation of the right size when it closes: a vector
    // grown element by element would allocate and move several times for each.
    template <typename Element>
    static std::vector<Element> Take(std::vector<Element>& stack, std::size_t base) {
        std::vector<Element> taken(std::make_move_iterator(stack.begin() + std::ptrdiff_t(base)),
                                   std::make_move_iterator(stack.end()));
        stack.resize(base);
        return taken;
    }

    Value ParseArray(int depth) {
        Open(depth);
        const std::size_t base = items_.size();
        while (Another(']', items_.size() == base, "missing ',' or ']'")) {
            items_.push_back(ParseValue(depth));
            SkipSpace();
        }
        return Value(Take(items_, base));
    }

    Value ParseObject(int depth) {
        Open(depth);
        const std::size_t base = members_.size();
        std::unordered_set<std::string> keys;
        while (Another('}', members_.size() == base, "missing ',' or '}'")) {
            if (!Next('"')) {
                Refuse("missing key", at_);
            }
            std::string key = ParseKey(base, keys);
            SkipSpace();
            if (!Next(':')) {
                Refuse("missing ':' after a key", at_);
            }
            ++at_;
            SkipSpace();
            Value value = ParseValue(depth);
            members_.push_back(Member{std::move(key), std::move(value)});
            SkipSpace();
        }
        return Value(Take(members_, base));
    }

    // A key, refused when the object already has it; the reason shows it as the file has it.
    std::string ParseKey(std::size_t base, std::unordered_set<std::string>& keys) {
        const char* start = at_;
        std::string key = ParseString();
        const auto members = members_.begin() + std::ptrdiff_t(base);
        bool repeated = false;
        if (members_.size() - base < keysSearchedInLine) {
            repeated = std::any_of(members, members_.end(),
                                   [&key](const Member& member) { return member.key == key; });
        } else {
            if (keys.empty()) {
                for (auto member = members; member != members_.end(); ++member) {
                    keys.insert(member->key);
                }
            }
            repeated = !keys.insert(key).second;
        }
        if (repeated) {
            Refuse("duplicate key " + std::string(start, at_), start);
        }
        return key;
    }

    // Runs of plain characters are copied whole; escapes and multi-byte characters one by
    // one.
    std::string ParseString() {
        const char* open = at_++;
        while (at_ != end_ && (ClassOf(*at_) & plainByte) != 0) {
            ++at_;
        }
        if (at_ != end_ && *at_ == '"') {  // most strings: plain characters only
            return std::string(open + 1, at_++);
        }
        std::string text(open + 1, at_);
        for (;;) {
            const char* run = at_;
            while (at_ != end_ && (ClassOf(*at_) & plainByte) != 0) {
                ++at_;
            }
            text.append(run, at_);
            if (at_ == end_) {
                Refuse("unterminated string", open);
            }
            const auto c = static_cast<unsigned char>(*at_);
            if (c == '"') {
                ++at_;
                return text;
            }
            if (c == '\\') {
                ParseEscape(text);
            } else if (c < 0x20) {
                Refuse("control character in a string", at_);
            } else {
                ParseMultiByte(text);
            }
        }
    }

    // One character of two to four bytes, refused when it is cut short, written longer than
    // it needs, a surrogate, or beyond U+10FFFF.
    void ParseMultiByte(std::string& text) {
        const auto lead = static_cast<unsigned char>(*at_);
        int length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : low;
            high = lead == 0xED ? 0x9F : high;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : low;
            high = lead == 0xF4 ? 0x8F : high;
        }
        bool valid = length != 0 && end_ - at_ >= length;
        for (int i = 1; valid && i < length; ++i) {
            const auto c = static_cast<unsigned char>(at_[i]);
            valid = i == 1 ? c >= low && c <= high : c >= 0x80 && c <= 0xBF;
        }
        if (!valid) {
            Refuse("invalid UTF-8", at_);
        }
        text.append(at_, std::size_t(length));
        at_ += length;
    }

    void ParseEscape(std::string& text) {
        if (end_ - at_ < 2) {
            Refuse("invalid escape", at_);
        }
        static constexpr std::string_view from = "\"\\/bfnrt";
        static constexpr std::string_view to = "\"\\/\b\f\n\r\t";
        const std::size_t found = from.find(at_[1]);
        if (found != std::string_view::npos) {
            text += to[found];
            at_ += 2;
        } else if (at_[1] == 'u') {
            ParseUnicodeEscape(text);
        } else {
            Refuse("invalid escape", at_);
        }
    }

    // \uXXXX, where a character beyond U+FFFF is a high and a low surrogate in a row.
    void ParseUnicodeEscape(std::string& text) {
        const char* escape = at_;
        char32_t code = Hex4(escape);
        at_ += 6;
        if (code >= 0xDC00 && code <= 0xDFFF) {
            Refuse("lone surrogate", escape);
        }
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (end_ - at_ < 2 || at_[0] != '\\' || at_[1] != 'u') {
                Refuse("lone surrogate", escape);
            }
            const char32_t low = Hex4(at_);
            if (low < 0xDC00 || low > 0xDFFF) {
                Refuse("lone surrogate", escape);
            }
            at_ += 6;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendCodePoint(text, code);
    }

    char32_t Hex4(const char* escape) const {
        if (end_ - escape < 6) {
            Refuse("invalid escape", escape);
        }
        char32_t code = 0;
        for (int i = 2; i < 6; ++i) {
            const int digit = HexDigit(escape[i]);
            if (digit < 0) {
                Refuse("invalid escape", escape);
            }
            code = code * 16 + char32_t(digit);
        }
        return code;
    }

    void SkipDigits() {
        if (at_ == end_ || !IsDigit(*at_)) {
            Refuse("invalid number", at_);
        }
        while (at_ != end_ && IsDigit(*at_)) {
            ++at_;
        }
    }

    // The grammar is checked here; the conversion, which knows no locale, is from_chars'.
    Value ParseNumber() {
        const char* start = at_;
        if (Next('-')) {
            ++at_;
        }
        if (Next('0')) {
            ++at_;
        } else {
            SkipDigits();
        }
        if (Next('.')) {
            ++at_;
            SkipDigits();
        }
        if (Next('e') || Next('E')) {
            ++at_;
            if (Next('+') || Next('-')) {
                ++at_;
            }
            SkipDigits();
        }
        if (at_ != end_ && IsDigit(*at_)) {
            Refuse("invalid number", at_);  // a leading zero
        }
        // Most numbers of a panel file are small whole ones, exact in a double as they are.
        const bool negative = *start == '-';
        if (at_ - start - int(negative) <= 15 && std::all_of(start + int(negative), at_, IsDigit)) {
            long long whole = 0;
            for (const char* digit = start + int(negative); digit != at_; ++digit) {
                whole = whole * 10 + (*digit - '0');
            }
            return Value(negative ? -double(whole) : double(whole));
        }
        double number = 0;
        const std::from_chars_result result = std::from_chars(start, at_, number);
        if (result.ec != std::errc() || result.ptr != at_) {
            Refuse("number out of range", start);
        }
        return Value(number);
    }

    const char* begin_;
    const char* at_;
    const char* end_;
    std::vector<Value> items_;
    std::vector<Member> members_;
};

}  // namespace

bool Parse(std::string_view bytes, Value& document, ParseError& error) {
    try {
        document = Reader(bytes).Document();
        return true;
    } catch (ParseError& refusal) {
        error = std::move(refusal);
        return false;
    }
}

}  // namespace panel_json
