#include "json_reader.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "utf8.h"

namespace StrictJson {

namespace {

struct SyntaxError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Reader {
public:
    Reader(const std::string& text, Bytes bytes) : s_(text), bytes_(bytes) {}

    Value Document() {
        SkipSpace();
        Value value = ParseValue(0);
        SkipSpace();
        if (pos_ != s_.size()) Fail("text after the value");
        return value;
    }

    size_t position() const { return pos_; }

private:
    [[noreturn]] static void Fail(const std::string& why) { throw SyntaxError(why); }

    void SkipSpace() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t')) {
            ++pos_;
        }
    }
    char Peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
    bool Consume(char c) {
        if (pos_ >= s_.size() || s_[pos_] != c) return false;
        ++pos_;
        return true;
    }
    void Expect(char c) {
        if (!Consume(c)) Fail(std::string("expected '") + c + "'");
    }
    bool Literal(const char* word) {
        const std::string w(word);
        if (s_.compare(pos_, w.size(), w) != 0) return false;
        pos_ += w.size();
        return true;
    }
    bool Digit() const { return pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9'; }
    size_t Digits() {
        size_t n = 0;
        while (Digit()) {
            ++pos_;
            ++n;
        }
        return n;
    }

    uint32_t Hex4() {
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            if (pos_ >= s_.size()) Fail("bad \\u escape");
            const char c = s_[pos_++];
            v *= 16;
            if (c >= '0' && c <= '9') v += static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') v += static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') v += static_cast<uint32_t>(c - 'A' + 10);
            else Fail("bad \\u escape");
        }
        return v;
    }

    void UnicodeEscape(std::string& out) {
        uint32_t cp = Hex4();
        if (cp >= 0xDC00 && cp <= 0xDFFF) Fail("lone low surrogate");
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (!Literal("\\u")) Fail("lone high surrogate");
            const uint32_t low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("bad surrogate pair");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        VelmoraTest::AppendUtf8(out, cp);
    }

    std::string String() {
        Expect('"');
        std::string out;
        while (true) {
            if (pos_ >= s_.size()) Fail("unterminated string");
            const auto c = static_cast<unsigned char>(s_[pos_]);
            if (c == '"') {
                ++pos_;
                return out;
            }
            if (c < 0x20) Fail("control character in string");
            if (c == '\\') {
                ++pos_;
                if (pos_ >= s_.size()) Fail("unterminated string");
                const char e = s_[pos_++];
                switch (e) {
                    case '"': out += '"'; break;
                    case '\\': out += '\\'; break;
                    case '/': out += '/'; break;
                    case 'b': out += '\b'; break;
                    case 'f': out += '\f'; break;
                    case 'n': out += '\n'; break;
                    case 'r': out += '\r'; break;
                    case 't': out += '\t'; break;
                    case 'u': UnicodeEscape(out); break;
                    default: Fail("bad escape");
                }
                continue;
            }
            size_t length = 1;
            if (c >= 0x80 && bytes_ == Bytes::Utf8) {
                length = VelmoraTest::Utf8SequenceLength(s_, pos_);
                if (length == 0) Fail("invalid UTF-8");
            }
            out.append(s_, pos_, length);
            pos_ += length;
        }
    }

    // -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
    void Number(Value& v) {
        const size_t start = pos_;
        Consume('-');
        if (!Consume('0') && Digits() == 0) Fail("expected a value");
        if (Consume('.') && Digits() == 0) Fail("bad fraction");
        if (Consume('e') || Consume('E')) {
            if (!Consume('+')) Consume('-');
            if (Digits() == 0) Fail("bad exponent");
        }
        v.kind = Value::Kind::Number;
        v.text = s_.substr(start, pos_ - start);
        v.number = std::strtod(v.text.c_str(), nullptr);
    }

    Value ParseValue(int depth) {
        Value v;
        if (Consume('{')) {
            if (depth >= kMaxDepth) Fail("too deep");
            v.kind = Value::Kind::Object;
            SkipSpace();
            if (Consume('}')) return v;
            while (true) {
                SkipSpace();
                std::string key = String();
                if (v.Get(key) != nullptr) Fail("duplicate key " + key);
                SkipSpace();
                Expect(':');
                SkipSpace();
                v.members.emplace_back(std::move(key), ParseValue(depth + 1));
                SkipSpace();
                if (Consume(',')) continue;
                Expect('}');
                return v;
            }
        }
        if (Consume('[')) {
            if (depth >= kMaxDepth) Fail("too deep");
            v.kind = Value::Kind::Array;
            SkipSpace();
            if (Consume(']')) return v;
            while (true) {
                SkipSpace();
                v.items.push_back(ParseValue(depth + 1));
                SkipSpace();
                if (Consume(',')) continue;
                Expect(']');
                return v;
            }
        }
        if (Peek() == '"') {
            v.kind = Value::Kind::String;
            v.text = String();
            return v;
        }
        if (Literal("true")) {
            v.kind = Value::Kind::Bool;
            v.boolean = true;
            return v;
        }
        if (Literal("false")) {
            v.kind = Value::Kind::Bool;
            return v;
        }
        if (Literal("null")) return v;
        Number(v);
        return v;
    }

    const std::string& s_;
    Bytes bytes_;
    size_t pos_ = 0;
};

}  // namespace

const Value* Value::Get(const std::string& key) const {
    for (const auto& m : members) {
        if (m.first == key) return &m.second;
    }
    return nullptr;
}

double Value::Num(const std::string& key) const {
    const Value* v = Get(key);
    if (v == nullptr || v->kind != Kind::Number) throw std::runtime_error("no number " + key);
    return v->number;
}

Parser::Parser(std::string text, Bytes bytes) : text_(std::move(text)), bytes_(bytes) {}

bool Parser::Parse(Value& out, std::string& error) const {
    return StrictJson::Parse(text_, out, error, bytes_);
}

bool Parse(const std::string& text, Value& out, std::string& error, Bytes bytes) {
    Reader reader(text, bytes);
    try {
        out = reader.Document();
        return true;
    } catch (const SyntaxError& e) {
        error = "at byte " + std::to_string(reader.position()) + ": " + e.what();
        return false;
    }
}

}  // namespace StrictJson
