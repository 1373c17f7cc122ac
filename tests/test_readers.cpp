// The strict readers of tests/support hold the documents to their formats
// for every test and fuzz target, so they are checked themselves: each
// accepts what its format allows and refuses each thing it must.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "json_reader.h"
#include "unity_yaml_reader.h"
#include "utf8.h"

namespace {

bool JsonOk(const std::string& text, StrictJson::Bytes bytes = StrictJson::Bytes::Utf8) {
    StrictJson::Value value;
    std::string error;
    return StrictJson::Parse(text, value, error, bytes);
}

TEST(StrictJsonReader, AcceptsWhatRfc8259Allows) {
    for (const std::string text :
         {"0", "-0", "1.5e-3", "-12E+2", "true", "null", " [ ] ", "{}", "\"caf\xC3\xA9\"", "[1, [2, {\"a\": []}]]",
          "{\"a\": 1, \"b\": {\"a\": 2}}", "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"\x7F\""}) {
        EXPECT_TRUE(JsonOk(text)) << text;
    }
    StrictJson::Value value;
    std::string error;
    ASSERT_TRUE(StrictJson::Parse("{\"n\": -1.50e2, \"s\": \"\\u00e9\\ud83d\\ude00\"}", value, error)) << error;
    EXPECT_EQ(value.Num("n"), -150.0);
    EXPECT_EQ(value.Get("n")->text, "-1.50e2");  // a number as written
    EXPECT_EQ(value.Get("s")->text, "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(value.Get("missing"), nullptr);
    EXPECT_THROW(value.Num("s"), std::runtime_error);
}

TEST(StrictJsonReader, RefusesWhatLenientReadersLetThrough) {
    for (const std::string text :
         {"", " ", "[1,]", "{\"a\": 1,}", "[1 2]", "01", "-01", "1.", ".5", "1e", "+1", "-", "NaN", "'a'",
          "\"\\x41\"", "\"\\u12\"", "\"\\uD800\"", "\"\\uDC00\"", "\"\\uD800\\u0041\"", "\"tab\there\"",
          "\"nul\0\"", "\"\xFF\"", "\"\xC0\xAF\"", "\"\xED\xA0\x80\"", "\"\xE6\xBC\"", "\"\xF4\x90\x80\x80\"",
          "{\"a\": 1, \"a\": 2}", "1 2", "{} x", "\xEF\xBB\xBF{}", "\"open", "[1] // comment", "{a: 1}"}) {
        EXPECT_FALSE(JsonOk(text)) << text;
    }
    EXPECT_FALSE(JsonOk(std::string("\"nul\0\"", 6)));
}

TEST(StrictJsonReader, LimitsNestingAndReportsWhere) {
    EXPECT_TRUE(JsonOk(std::string(StrictJson::kMaxDepth, '[') + std::string(StrictJson::kMaxDepth, ']')));
    EXPECT_FALSE(JsonOk(std::string(StrictJson::kMaxDepth + 1, '[') + std::string(StrictJson::kMaxDepth + 1, ']')));
    StrictJson::Value value;
    std::string error;
    EXPECT_FALSE(StrictJson::Parser("[1, 2,]").Parse(value, error));
    EXPECT_EQ(error, "at byte 6: expected a value");
}

TEST(StrictJsonReader, OpaqueBytesAreKeptButNothingElseIsRelaxed) {
    StrictJson::Value value;
    std::string error;
    ASSERT_TRUE(StrictJson::Parse("[\"bad\xFF\xFE\"]", value, error, StrictJson::Bytes::Opaque)) << error;
    EXPECT_EQ(value.items.at(0).text, "bad\xFF\xFE");
    for (const std::string text : {"[\"tab\there\"]", "[1,]", "{\"a\": 1, \"a\": 1}", "\"\\uD800\"", "01"}) {
        EXPECT_FALSE(JsonOk(text, StrictJson::Bytes::Opaque)) << text;
    }
}

TEST(Utf8, SequencesFollowRfc3629) {
    EXPECT_TRUE(VelmoraTest::ValidUtf8("a\xC3\xA9\xE6\xBC\xA2\xF0\x9F\x98\x80"));
    for (const std::string bad : {"\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
                                  "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xE6\xBC", "\xC3\x41"}) {
        EXPECT_FALSE(VelmoraTest::ValidUtf8(bad)) << bad;
    }
    std::string out;
    for (const uint32_t codePoint : {0x41U, 0xE9U, 0x6F22U, 0x1F600U}) VelmoraTest::AppendUtf8(out, codePoint);
    EXPECT_EQ(out, "A\xC3\xA9\xE6\xBC\xA2\xF0\x9F\x98\x80");
}

// A .meta in the shape Unity writes: every construct the checker knows.
const std::string kMeta =
    "fileFormatVersion: 2\n"
    "guid: 0123456789abcdef0123456789abcdef\n"
    "TextureImporter:\n"
    "  internalIDToNameTable:\n"
    "  - first:\n"
    "      213: -42\n"
    "    second: \"quote\\\" and \\\\ \\x01 \\u00E9 \\N\"\n"
    "  externalObjects: {}\n"
    "  spritePivot: {x: 0.5, y: -0.25}\n"
    "  spriteSheet:\n"
    "    sprites:\n"
    "    - serializedVersion: 2\n"
    "      name: walk_0\n"
    "      physicsShape:\n"
    "      - - {x: -4, y: 14}\n"
    "        - {x: 4, y: 14}\n"
    "      - []\n"
    "      indices: \n"
    "      bones: []\n"
    "    nameFileIdTable:\n"
    "      \"a\\\":b\": 7\n"
    "      walk_0: -42\n"
    "  userData: \n";

bool YamlOk(const std::string& text, std::string* error = nullptr) {
    std::vector<UnityYaml::YamlLine> lines;
    std::string why;
    const bool ok = UnityYaml::CheckUnityYaml(text, lines, why);
    if (error != nullptr) *error = why;
    return ok;
}

// kMeta with its first `from` replaced by `to`.
std::string MetaWith(const std::string& from, const std::string& to) {
    std::string text = kMeta;
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(UnityYamlReader, ReadsEveryConstructUnityWrites) {
    std::vector<UnityYaml::YamlLine> lines;
    std::string error;
    ASSERT_TRUE(UnityYaml::CheckUnityYaml(kMeta, lines, error)) << error;
    ASSERT_EQ(lines.size(), 23U);
    EXPECT_EQ(lines[6].key, "second");
    EXPECT_EQ(lines[6].indent, 4U);
    std::string decoded;
    ASSERT_TRUE(UnityYaml::DecodeYamlScalar(lines[6].value, decoded));
    EXPECT_EQ(decoded, "quote\" and \\ \x01 \xC3\xA9 \xC2\x85");
    EXPECT_EQ(lines[14].markers, 2U);
    EXPECT_EQ(lines[14].indent, 10U);
    EXPECT_EQ(lines[20].key, "a\":b");
    EXPECT_EQ(UnityYaml::UnityValue(lines, 6, "indices"), "");
    EXPECT_EQ(UnityYaml::UnityValue(lines, 6, "absent"), "<absent>");
    EXPECT_EQ(UnityYaml::Flow(UnityYaml::UnityValue(lines, 2, "spritePivot")).at("y"), -0.25);
    EXPECT_THROW(UnityYaml::Flow("[]"), std::invalid_argument);
    const UnityYaml::UnityNames names = UnityYaml::ReadUnityNames(lines);
    EXPECT_EQ(names.spriteNames, std::vector<std::string>{"walk_0"});
    EXPECT_EQ(names.tableIds, std::vector<std::string>{"-42"});
    EXPECT_EQ(names.fileIdKeys, (std::vector<std::string>{"a\":b", "walk_0"}));
}

TEST(UnityYamlReader, RefusesWhatUnityWouldMisread) {
    const struct {
        std::string from, to, why;
    } cases[] = {
        {"guid: 0123", "guid:\t0123", "control character"},
        {"fileFormatVersion: 2\n", "fileFormatVersion: 2\r\n", "control character"},
        {"      name: walk_0", "     name: walk_0", "odd indentation"},
        {"      name: walk_0", "        name: walk_0", "unexpected indentation"},
        {"    second:", "   second:", "odd indentation"},
        {"  userData: \n", "   - userData: \n", "odd indentation"},
        {"      bones: []", "     - bones: []", "odd indentation"},
        {"      bones: []", "      name: again", "duplicate key"},
        {"      walk_0: -42", "      walk_0: -42\n      walk_0: 1", "duplicate key"},
        {"{x: 0.5, y: -0.25}", "{x: 0.5, x: -0.25}", "bad flow value"},
        {"{x: 0.5, y: -0.25}", "{x:0.5, y: -0.25}", "bad flow value"},
        {"{x: 0.5, y: -0.25}", "{x: 0.5,y: -0.25}", "bad flow value"},
        {"{x: 0.5, y: -0.25}", "{x: [0.5], y: -0.25}", "bad flow value"},
        {"{x: 0.5, y: -0.25}", "{x: 0.5, y: -0.25", "bad flow value"},
        {"      - []", "      - [1]", "bad flow value"},
        {"\\x01", "\\x0", "bad scalar"},
        {"\\x01", "\\xZZ", "bad scalar"},
        {"\\u00E9", "\\uD800", "bad scalar"},
        {"\\u00E9", "\\u+0E9", "bad scalar"},
        {"\\N", "\\a", "bad scalar"},
        {"\\N", "\xC2\x85", "unescaped NEL"},
        {"\\u00E9", "\xE9", "UTF-8"},
        {"name: walk_0", "name: walk_0 ", "bad scalar"},
        {"name: walk_0", "name:  walk_0", "bad scalar"},
        {"name: walk_0", "name: -walk", "bad scalar"},
        {"name: walk_0", "name: a: b", "bad scalar"},
        {"name: walk_0", "name: a #b", "bad scalar"},
        {"name: walk_0", "name:walk_0", "no space after ':'"},
        {"name: walk_0", "name walk_0", "no ':'"},
        {"\"a\\\":b\": 7", "\"a\\\":b\" : 7", "no ':' after quoted key"},
        {"\"a\\\":b\": 7", "\"a\\\":b: 7", "unclosed quoted key"},
        {"  externalObjects: {}", "  {}", "flow value without a key"},
        {"  userData: \n", "  userData:\n", "block key without contents at the end"},
        {"  spriteSheet:\n    sprites:", "  spriteSheet:\n  sprites:", "unexpected indentation under a block key"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(YamlOk(MetaWith(c.from, c.to), &error)) << c.to;
        EXPECT_NE(error.find(c.why), std::string::npos) << c.to << " -> " << error;
    }
    std::string error;
    EXPECT_FALSE(YamlOk("fileFormatVersion: 2", &error));
    EXPECT_EQ(error, "no final newline");
    EXPECT_FALSE(YamlOk("\xEF\xBB\xBF" + kMeta, &error));
}

}  // namespace
