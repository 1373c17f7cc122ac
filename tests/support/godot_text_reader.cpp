#include "godot_text_reader.h"

#include <cstdlib>
#include <set>
#include <stdexcept>

#include "utf8.h"

namespace GodotText {

namespace {

struct ParseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class Tok { CurlyOpen, CurlyClose, BracketOpen, BracketClose, ParenOpen, ParenClose, Ident,
                 String, StringName, Number, Colon, Comma, Period, Equal, End };

struct Token {
    Tok type = Tok::End;
    std::string text;  // identifier or unescaped string
    bool isFloat = false;
    double real = 0.0;
    int64_t integer = 0;
};

class Reader {
public:
    explicit Reader(const std::string& text) : s_(text) {}

    Document Run() {
        if (s_.compare(0, 3, "\xEF\xBB\xBF") == 0) Fail("byte order mark");
        if (s_.find('\0') != std::string::npos) Fail("NUL byte (Godot stops reading there)");
        Document doc;
        Section section;
        if (!NextTag(section)) Fail("empty file");
        doc.header = section;
        const bool scene = section.tag == "gd_scene";
        if (!scene && section.tag != "gd_resource") Fail("expected gd_resource or gd_scene header");
        const Value* format = section.Attr("format");
        if (format == nullptr || format->kind != Value::Kind::Int) Fail("header without integer format");
        if (format->integer < 3 || format->integer > 4) Fail("format must be 3 (or 4)");
        if (!scene) {
            const Value* type = section.Attr("type");
            if (type == nullptr || type->kind != Value::Kind::String || type->text.empty())
                Fail("gd_resource without type");
        }
        if (!section.props.empty()) Fail("properties after the header tag");

        enum Stage { Ext, Sub, Main } stage = Ext;
        bool haveResource = false;
        bool haveRoot = false;
        std::set<std::pair<std::string, std::string>> siblings;
        while (NextTag(section)) {
            const std::string& tag = section.tag;
            if (haveResource) Fail("section after [resource]");
            if (tag == "ext_resource") {
                if (stage != Ext) Fail("ext_resource after sub_resource or body");
                const std::string id = RequireStringAttr(section, "id");
                RequireStringAttr(section, "type");
                RequireStringAttr(section, "path");
                if (!extIds_.insert(id).second) Fail("duplicate ext_resource id " + id);
                if (!section.props.empty()) Fail("properties under ext_resource");
            } else if (tag == "sub_resource") {
                if (stage == Main) Fail("sub_resource after the body");
                stage = Sub;
                const std::string id = RequireStringAttr(section, "id");
                RequireStringAttr(section, "type");
                if (!subIds_.insert(id).second) Fail("duplicate sub_resource id " + id);
            } else if (tag == "resource") {
                if (scene) Fail("[resource] in a scene");
                if (!section.attrs.empty()) Fail("[resource] takes no attributes");
                stage = Main;
                haveResource = true;
            } else if (tag == "node") {
                if (!scene) Fail("[node] in a resource");
                stage = Main;
                const std::string name = RequireStringAttr(section, "name");
                if (name.empty() || name.find_first_of(".:@/\"%") != std::string::npos)
                    Fail("invalid node name \"" + name + "\"");
                const Value* parent = section.Attr("parent");
                if (!haveRoot) {
                    if (parent != nullptr) Fail("root node with a parent");
                    RequireStringAttr(section, "type");
                    haveRoot = true;
                } else {
                    if (parent == nullptr || parent->kind != Value::Kind::String) Fail("node without parent");
                    if (section.Attr("type") == nullptr && section.Attr("instance") == nullptr)
                        Fail("node without type");
                    if (!siblings.insert({parent->text, name}).second) Fail("duplicate node " + name);
                }
            } else if (tag == "connection" && scene) {
                stage = Main;
            } else {
                Fail("unexpected tag [" + tag + "]");
            }
            doc.sections.push_back(section);
        }
        if (!scene && !haveResource) Fail("no [resource] section (end of file in sub-resources)");
        if (scene && !haveRoot) Fail("scene without nodes");
        return doc;
    }

    int line() const { return line_; }

private:
    [[noreturn]] void Fail(const std::string& why) const { throw ParseError(why); }

    std::string RequireStringAttr(const Section& section, const std::string& name) {
        const Value* v = section.Attr(name);
        if (v == nullptr || v->kind != Value::Kind::String) Fail("[" + section.tag + "] without string " + name);
        return v->text;
    }

    int Peek() const { return pos_ < s_.size() ? static_cast<unsigned char>(s_[pos_]) : -1; }
    int Get() {
        if (pos_ >= s_.size()) return -1;
        const char c = s_[pos_++];
        if (c == '\n') ++line_;
        return static_cast<unsigned char>(c);
    }

    void SkipSpaceAndComments() {
        while (true) {
            const int c = Peek();
            if (c == ';') {
                while (Peek() != -1 && Peek() != '\n') Get();
            } else if (c != -1 && c <= 32) {
                Get();
            } else {
                return;
            }
        }
    }

    Token Next() {
        SkipSpaceAndComments();
        Token t;
        const int c = Get();
        switch (c) {
            case -1: t.type = Tok::End; return t;
            case '{': t.type = Tok::CurlyOpen; return t;
            case '}': t.type = Tok::CurlyClose; return t;
            case '[': t.type = Tok::BracketOpen; return t;
            case ']': t.type = Tok::BracketClose; return t;
            case '(': t.type = Tok::ParenOpen; return t;
            case ')': t.type = Tok::ParenClose; return t;
            case ':': t.type = Tok::Colon; return t;
            case ',': t.type = Tok::Comma; return t;
            case '.': t.type = Tok::Period; return t;
            case '=': t.type = Tok::Equal; return t;
            case '#': Fail("'#' starts a colour token, not a comment");
            case '&':
                if (Get() != '"') Fail("expected '\"' after '&'");
                t.type = Tok::StringName;
                t.text = ReadString();
                return t;
            case '"':
                t.type = Tok::String;
                t.text = ReadString();
                return t;
            default: break;
        }
        std::string text;
        int ch = c;
        if (ch == '-') {
            text += '-';
            ch = Get();
        }
        if (ch >= '0' && ch <= '9') {
            bool dot = false, exp = false;
            text += static_cast<char>(ch);
            while (true) {
                const int n = Peek();
                if (n >= '0' && n <= '9') {
                    text += static_cast<char>(Get());
                } else if (n == '.' && !dot && !exp) {
                    dot = true;
                    text += static_cast<char>(Get());
                } else if ((n == 'e' || n == 'E') && !exp) {
                    exp = true;
                    text += static_cast<char>(Get());
                    if (Peek() == '+' || Peek() == '-') text += static_cast<char>(Get());
                } else {
                    break;
                }
            }
            t.type = Tok::Number;
            t.isFloat = dot || exp;
            t.text = text;
            if (t.isFloat) {
                t.real = std::strtod(text.c_str(), nullptr);
            } else {
                t.integer = std::strtoll(text.c_str(), nullptr, 10);
                t.real = static_cast<double>(t.integer);
            }
            return t;
        }
        if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == '_') {
            text += static_cast<char>(ch);
            while (true) {
                const int n = Peek();
                if ((n >= 'a' && n <= 'z') || (n >= 'A' && n <= 'Z') || n == '_' || (n >= '0' && n <= '9')) {
                    text += static_cast<char>(Get());
                } else {
                    break;
                }
            }
            t.type = Tok::Ident;
            t.text = text;
            return t;
        }
        Fail("unexpected character");
    }

    std::string ReadString() {
        std::string out;
        while (true) {
            const int c = Get();
            if (c == -1) Fail("unterminated string");
            if (c == '"') break;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            const int e = Get();
            switch (e) {
                case -1: Fail("unterminated string");
                case 'b': out += '\b'; break;
                case 't': out += '\t'; break;
                case 'n': out += '\n'; break;
                case 'f': out += '\f'; break;
                case 'r': out += '\r'; break;
                case 'u':
                case 'U': {
                    const int digits = e == 'U' ? 6 : 4;
                    unsigned value = 0;
                    for (int k = 0; k < digits; ++k) {
                        const int h = Get();
                        unsigned v = 0;
                        if (h >= '0' && h <= '9') v = static_cast<unsigned>(h - '0');
                        else if (h >= 'a' && h <= 'f') v = static_cast<unsigned>(h - 'a' + 10);
                        else if (h >= 'A' && h <= 'F') v = static_cast<unsigned>(h - 'A' + 10);
                        else Fail("malformed hex constant in string");
                        value = value * 16 + v;
                    }
                    // A file's strings are re-decoded as UTF-8 byte by byte
                    // after unescaping: escapes above 0x7F come back broken.
                    if (value > 0x7F) Fail("\\u escape above 0x7F is misread from a UTF-8 file");
                    if (value == 0) Fail("\\u0000 ends the string early");
                    out += static_cast<char>(value);
                    break;
                }
                default: out += static_cast<char>(e); break;
            }
        }
        if (!VelmoraTest::ValidUtf8(out)) Fail("string is not valid UTF-8");
        return out;
    }

    void Expect(Tok type, const char* what) {
        if (Next().type != type) Fail(std::string("expected ") + what);
    }

    // Numbers of a constructor, "(" already expected; Godot takes numbers
    // and inf/nan identifiers, with no trailing comma.
    std::vector<double> Construct() {
        Expect(Tok::ParenOpen, "'(' in constructor");
        std::vector<double> args;
        Token t = Next();
        if (t.type == Tok::ParenClose) return args;
        while (true) {
            if (t.type == Tok::Number) {
                args.push_back(t.real);
            } else if (t.type == Tok::Ident && (t.text == "inf" || t.text == "-inf" || t.text == "nan")) {
                args.push_back(0.0);
            } else {
                Fail("expected float in constructor");
            }
            t = Next();
            if (t.type == Tok::ParenClose) return args;
            if (t.type != Tok::Comma) Fail("expected ',' or ')' in constructor");
            t = Next();
        }
    }

    std::string RefId() {
        Expect(Tok::ParenOpen, "'(' after resource reference");
        const Token t = Next();
        if (t.type != Tok::String) Fail("expected id string in resource reference");
        Expect(Tok::ParenClose, "')' after resource reference");
        return t.text;
    }

    Value ParseValue(const Token& t) {
        Value v;
        switch (t.type) {
            case Tok::String: v.kind = Value::Kind::String; v.text = t.text; return v;
            case Tok::StringName: v.kind = Value::Kind::StringName; v.text = t.text; return v;
            case Tok::Number:
                v.kind = t.isFloat ? Value::Kind::Float : Value::Kind::Int;
                v.integer = t.integer;
                v.real = t.real;
                return v;
            case Tok::BracketOpen: {
                v.kind = Value::Kind::Array;
                Token n = Next();
                while (n.type != Tok::BracketClose) {
                    v.items.push_back(ParseValue(n));
                    n = Next();
                    if (n.type == Tok::Comma) n = Next();
                    else if (n.type != Tok::BracketClose) Fail("expected ',' or ']' in array");
                }
                return v;
            }
            case Tok::CurlyOpen: {
                v.kind = Value::Kind::Dict;
                Token n = Next();
                while (n.type != Tok::CurlyClose) {
                    Value key = ParseValue(n);
                    Expect(Tok::Colon, "':' in dictionary");
                    Value value = ParseValue(Next());
                    v.entries.emplace_back(std::move(key), std::move(value));
                    n = Next();
                    if (n.type == Tok::Comma) n = Next();
                    else if (n.type != Tok::CurlyClose) Fail("expected ',' or '}' in dictionary");
                }
                return v;
            }
            case Tok::Ident: break;
            default: Fail("expected a value");
        }
        const std::string& id = t.text;
        if (id == "true" || id == "false") {
            v.kind = Value::Kind::Bool;
            v.boolean = id == "true";
        } else if (id == "null" || id == "nil") {
            v.kind = Value::Kind::Null;
        } else if (id == "inf" || id == "-inf" || id == "nan") {
            v.kind = Value::Kind::Float;
        } else if (id == "ExtResource") {
            v.kind = Value::Kind::ExtRef;
            v.text = RefId();
            if (extIds_.count(v.text) == 0) Fail("ExtResource(\"" + v.text + "\") not declared before");
        } else if (id == "SubResource") {
            v.kind = Value::Kind::SubRef;
            v.text = RefId();
            if (subIds_.count(v.text) == 0 || v.text == currentSubId_)
                Fail("SubResource(\"" + v.text + "\") not declared before");
        } else if (id == "PackedStringArray") {
            v.kind = Value::Kind::Construct;
            v.text = id;
            Expect(Tok::ParenOpen, "'('");
            Token n = Next();
            while (n.type != Tok::ParenClose) {
                if (n.type != Tok::String) Fail("expected string in PackedStringArray");
                v.strings.push_back(n.text);
                n = Next();
                if (n.type == Tok::Comma) n = Next();
                else if (n.type != Tok::ParenClose) Fail("expected ',' or ')'");
            }
        } else {
            static const std::pair<const char*, int> kArity[] = {
                {"Vector2", 2}, {"Vector2i", 2}, {"Rect2", 4}, {"Rect2i", 4}, {"Vector3", 3},
                {"Vector3i", 3}, {"Color", 4}, {"PackedVector2Array", -2}, {"PackedFloat32Array", -1},
                {"PackedInt32Array", -1}, {"PackedFloat64Array", -1}, {"PackedInt64Array", -1},
                {"PackedColorArray", -4}, {"PackedByteArray", -1}};
            int arity = 0;
            for (const auto& entry : kArity) {
                if (id == entry.first) arity = entry.second;
            }
            if (arity == 0) Fail("unknown identifier " + id);
            v.kind = Value::Kind::Construct;
            v.text = id;
            v.numbers = Construct();
            if (arity > 0 && v.numbers.size() != static_cast<size_t>(arity))
                Fail("expected " + std::to_string(arity) + " arguments for " + id);
            if (arity < 0 && v.numbers.size() % static_cast<size_t>(-arity) != 0)
                Fail("component count of " + id + " is not a multiple of " + std::to_string(-arity));
        }
        return v;
    }

    // Reads the next "[tag attr=value ...]" and the property lines after it.
    bool NextTag(Section& section) {
        section = Section();
        SkipSpaceAndComments();
        if (Peek() == -1) return false;
        if (Get() != '[') Fail("expected '['");
        section.line = line_;
        const Token name = Next();
        if (name.type != Tok::Ident) Fail("expected tag name");
        section.tag = name.text;
        while (true) {
            const Token t = Next();
            if (t.type == Tok::BracketClose) break;
            if (t.type != Tok::Ident) Fail("expected attribute name in tag");
            Expect(Tok::Equal, "'=' after attribute name");
            section.attrs.emplace_back(t.text, ParseValue(Next()));
        }
        currentSubId_.clear();
        if (section.tag == "sub_resource") {
            const Value* id = section.Attr("id");
            if (id != nullptr) currentSubId_ = id->text;
        }
        // Property lines: a raw key up to '=', then a value.
        while (true) {
            SkipSpaceAndComments();
            const int c = Peek();
            if (c == -1 || c == '[') break;
            std::string key;
            while (Peek() != -1 && Peek() != '=' && Peek() != '\n') key += static_cast<char>(Get());
            while (!key.empty() && key.back() == ' ') key.pop_back();
            if (Peek() != '=') Fail("expected '=' after property name");
            Get();
            if (key.empty()) Fail("empty property name");
            for (const char k : key) {
                const bool ok = (k >= 'a' && k <= 'z') || (k >= 'A' && k <= 'Z') || (k >= '0' && k <= '9') ||
                                k == '_' || k == '/' || k == ':';
                if (!ok) Fail("bad property name '" + key + "'");
            }
            for (const auto& existing : section.props) {
                if (existing.first == key) Fail("property set twice: " + key);
            }
            section.props.emplace_back(key, ParseValue(Next()));
        }
        return true;
    }

    const std::string& s_;
    size_t pos_ = 0;
    int line_ = 1;
    std::set<std::string> extIds_;
    std::set<std::string> subIds_;
    std::string currentSubId_;
};

}  // namespace

const Value* Value::Get(const std::string& key) const {
    if (kind != Kind::Dict) return nullptr;
    for (const auto& entry : entries) {
        if (entry.first.kind == Kind::String && entry.first.text == key) return &entry.second;
    }
    return nullptr;
}

const Value* Section::Attr(const std::string& name) const {
    for (const auto& a : attrs) {
        if (a.first == name) return &a.second;
    }
    return nullptr;
}

const Value* Section::Prop(const std::string& name) const {
    for (const auto& p : props) {
        if (p.first == name) return &p.second;
    }
    return nullptr;
}

std::string Section::AttrText(const std::string& name) const {
    const Value* v = Attr(name);
    return v == nullptr ? std::string() : v->text;
}

std::vector<const Section*> Document::All(const std::string& tag) const {
    std::vector<const Section*> out;
    for (const auto& s : sections) {
        if (s.tag == tag) out.push_back(&s);
    }
    return out;
}

const Section* Document::SubResource(const std::string& id) const {
    for (const auto& s : sections) {
        if (s.tag == "sub_resource" && s.AttrText("id") == id) return &s;
    }
    return nullptr;
}

const Section* Document::ExtResource(const std::string& id) const {
    for (const auto& s : sections) {
        if (s.tag == "ext_resource" && s.AttrText("id") == id) return &s;
    }
    return nullptr;
}

Result Parse(const std::string& text) {
    Result result;
    Reader reader(text);
    try {
        result.doc = reader.Run();
        result.ok = true;
    } catch (const ParseError& e) {
        result.error = "line " + std::to_string(reader.line()) + ": " + e.what();
    }
    return result;
}

}  // namespace GodotText
