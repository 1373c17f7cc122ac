// A strict JSON reader for the tests (RFC 8259: no trailing commas, no
// control characters in strings, valid UTF-8, paired surrogates), which
// also refuses duplicate keys in an object.
#ifndef VELMORA_TESTS_JSON_READER_H
#define VELMORA_TESTS_JSON_READER_H

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace StrictJson {

struct Value {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0.0;
    std::string text;
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> members;

    const Value* Get(const std::string& key) const {
        for (const auto& m : members) {
            if (m.first == key) return &m.second;
        }
        return nullptr;
    }
    // Number of a member, NaN-free: throws when absent or not a number.
    double Num(const std::string& key) const {
        const Value* v = Get(key);
        if (v == nullptr || v->kind != Kind::Number) throw std::runtime_error("no number " + key);
        return v->number;
    }
};

class Parser {
public:
    explicit Parser(const std::string& s) : s_(s) {}

    // Parses the whole text; on failure returns false with a reason.
    bool Parse(Value& out, std::string& error) {
        try {
            Skip();
            out = ParseValue(0);
            Skip();
            if (pos_ != s_.size()) Fail("text after the value");
            return true;
        } catch (const std::runtime_error& e) {
            error = "at byte " + std::to_string(pos_) + ": " + e.what();
            return false;
        }
    }

private:
    [[noreturn]] void Fail(const std::string& why) { throw std::runtime_error(why); }
    void Skip() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t')) ++pos_;
    }
    char Peek() { return pos_ < s_.size() ? s_[pos_] : '\0'; }
    void Expect(char c) {
        if (Peek() != c) Fail(std::string("expected '") + c + "'");
        ++pos_;
    }
    bool Literal(const char* word) {
        const std::string w(word);
        if (s_.compare(pos_, w.size(), w) != 0) return false;
        pos_ += w.size();
        return true;
    }
    unsigned Hex4() {
        unsigned v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = Peek();
            ++pos_;
            v *= 16;
            if (c >= '0' && c <= '9') v += static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') v += static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') v += static_cast<unsigned>(c - 'A' + 10);
            else Fail("bad \\u escape");
        }
        return v;
    }
    static void Utf8(std::string& out, unsigned cp) {
        if (cp < 0x80) { out += static_cast<char>(cp); }
        else if (cp < 0x800) { out += static_cast<char>(0xC0 | (cp >> 6)); out += static_cast<char>(0x80 | (cp & 0x3F)); }
        else if (cp < 0x10000) { out += static_cast<char>(0xE0 | (cp >> 12)); out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F)); out += static_cast<char>(0x80 | (cp & 0x3F)); }
        else { out += static_cast<char>(0xF0 | (cp >> 18)); out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F)); out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F)); out += static_cast<char>(0x80 | (cp & 0x3F)); }
    }
    std::string String() {
        Expect('"');
        std::string out;
        while (true) {
            if (pos_ >= s_.size()) Fail("unterminated string");
            const auto c = static_cast<unsigned char>(s_[pos_]);
            if (c == '"') { ++pos_; return out; }
            if (c < 0x20) Fail("control character in string");
            if (c == '\\') {
                ++pos_;
                const char e = Peek();
                ++pos_;
                switch (e) {
                    case '"': out += '"'; break;
                    case '\\': out += '\\'; break;
                    case '/': out += '/'; break;
                    case 'b': out += '\b'; break;
                    case 'f': out += '\f'; break;
                    case 'n': out += '\n'; break;
                    case 'r': out += '\r'; break;
                    case 't': out += '\t'; break;
                    case 'u': {
                        unsigned cp = Hex4();
                        if (cp >= 0xDC00 && cp <= 0xDFFF) Fail("lone low surrogate");
                        if (cp >= 0xD800 && cp <= 0xDBFF) {
                            if (!Literal("\\u")) Fail("lone high surrogate");
                            const unsigned lo = Hex4();
                            if (lo < 0xDC00 || lo > 0xDFFF) Fail("bad surrogate pair");
                            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                        }
                        Utf8(out, cp);
                        break;
                    }
                    default: Fail("bad escape");
                }
                continue;
            }
            // One UTF-8 sequence, checked.
            size_t len = 1;
            unsigned lo = 0x80, hi = 0xBF;
            if (c >= 0x80) {
                if (c >= 0xC2 && c <= 0xDF) len = 2;
                else if (c >= 0xE0 && c <= 0xEF) { len = 3; if (c == 0xE0) lo = 0xA0; if (c == 0xED) hi = 0x9F; }
                else if (c >= 0xF0 && c <= 0xF4) { len = 4; if (c == 0xF0) lo = 0x90; if (c == 0xF4) hi = 0x8F; }
                else Fail("invalid UTF-8");
                if (pos_ + len > s_.size()) Fail("truncated UTF-8");
                for (size_t k = 1; k < len; ++k) {
                    const auto d = static_cast<unsigned char>(s_[pos_ + k]);
                    if (k == 1 ? (d < lo || d > hi) : (d & 0xC0) != 0x80) Fail("invalid UTF-8");
                }
            }
            out.append(s_, pos_, len);
            pos_ += len;
        }
    }
    Value ParseValue(int depth) {
        if (depth > 64) Fail("too deep");
        Value v;
        const char c = Peek();
        if (c == '{') {
            ++pos_;
            v.kind = Value::Kind::Object;
            Skip();
            if (Peek() == '}') { ++pos_; return v; }
            while (true) {
                Skip();
                std::string key = String();
                if (v.Get(key) != nullptr) Fail("duplicate key " + key);
                Skip();
                Expect(':');
                Skip();
                v.members.emplace_back(key, ParseValue(depth + 1));
                Skip();
                if (Peek() == ',') { ++pos_; continue; }
                Expect('}');
                return v;
            }
        }
        if (c == '[') {
            ++pos_;
            v.kind = Value::Kind::Array;
            Skip();
            if (Peek() == ']') { ++pos_; return v; }
            while (true) {
                Skip();
                v.items.push_back(ParseValue(depth + 1));
                Skip();
                if (Peek() == ',') { ++pos_; continue; }
                Expect(']');
                return v;
            }
        }
        if (c == '"') { v.kind = Value::Kind::String; v.text = String(); return v; }
        if (Literal("true")) { v.kind = Value::Kind::Bool; v.boolean = true; return v; }
        if (Literal("false")) { v.kind = Value::Kind::Bool; return v; }
        if (Literal("null")) return v;
        // Number: -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
        const size_t start = pos_;
        if (Peek() == '-') ++pos_;
        auto digits = [this]() { size_t n = 0; while (Peek() >= '0' && Peek() <= '9') { ++pos_; ++n; } return n; };
        if (Peek() == '0') ++pos_;
        else if (digits() == 0) Fail("expected a value");
        if (Peek() == '.') { ++pos_; if (digits() == 0) Fail("bad fraction"); }
        if (Peek() == 'e' || Peek() == 'E') {
            ++pos_;
            if (Peek() == '+' || Peek() == '-') ++pos_;
            if (digits() == 0) Fail("bad exponent");
        }
        v.kind = Value::Kind::Number;
        v.number = std::strtod(s_.substr(start, pos_ - start).c_str(), nullptr);
        return v;
    }

    const std::string& s_;
    size_t pos_ = 0;
};

}  // namespace StrictJson

#endif  // VELMORA_TESTS_JSON_READER_H
