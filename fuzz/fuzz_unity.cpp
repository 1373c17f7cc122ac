// ExportUnityJson on arbitrary rectangles and atlas sizes: any 32-bit
// numbers and names made of any bytes (quotes, backslashes, control
// characters, NUL, bytes above 0x7F).
//
// The document is parsed by the strict JSON reader the unit tests use
// (tests/support/json_reader.h: RFC 8259 grammar, no trailing commas, no
// leading zeros, no raw control characters in strings, only the standard
// escapes, paired surrogates, no duplicate keys) and its values are compared
// with the inputs: every name must come back byte for byte, every number as
// given. The exporter writes a name's bytes above 0x7F unchanged, so the
// reader takes them as opaque string content (StrictJson::Bytes::Opaque)
// rather than asking for well-formed UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "json_reader.h"
#include "velmora_engine.h"

namespace {

using Velmora::Rect2D;
using VelmoraFuzz::Reader;

using StrictJson::Value;
using Kind = StrictJson::Value::Kind;

// The members of `object`, which must carry exactly `keys`, in this order.
const Value& Member(const Value& object, size_t index, const char* key) {
    FUZZ_CHECK(object.kind == Kind::Object);
    FUZZ_CHECK(index < object.members.size());
    FUZZ_CHECK(object.members[index].first == key);
    return object.members[index].second;
}

void CheckInteger(const Value& value, int32_t expected) {
    FUZZ_CHECK(value.kind == Kind::Number);
    FUZZ_CHECK(value.text == std::to_string(expected));
}

void CheckFalse(const Value& value) {
    FUZZ_CHECK(value.kind == Kind::Bool && !value.boolean);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in = VelmoraFuzz::MakeReader(data, size);
    const int32_t atlasWidth = VelmoraFuzz::TakeInt32(in);
    const int32_t atlasHeight = VelmoraFuzz::TakeInt32(in);
    std::vector<Rect2D> rects(VelmoraFuzz::TakeCount(in, 6));
    for (Rect2D& rect : rects) {
        rect = VelmoraFuzz::TakeRect(in, 24);
    }

    const std::string document = Velmora::ExportUnityJson(rects, atlasWidth, atlasHeight);

    // No name may add or remove a line, and line ends are bare line feeds.
    size_t lineFeeds = 0;
    for (const char ch : document) {
        FUZZ_CHECK(ch != '\r' && ch != '\t');
        lineFeeds += ch == '\n' ? 1 : 0;
    }
    FUZZ_CHECK(lineFeeds == 8 + 6 * rects.size());
    FUZZ_CHECK(document.size() >= 2 && document.compare(document.size() - 2, 2, "}\n") == 0);

    Value root;
    std::string error;
    FUZZ_CHECK(StrictJson::Parse(document, root, error, StrictJson::Bytes::Opaque));

    FUZZ_CHECK(root.members.size() == 2);
    const Value& frames = Member(root, 0, "frames");
    FUZZ_CHECK(frames.kind == Kind::Array);
    FUZZ_CHECK(frames.items.size() == rects.size());
    for (size_t k = 0; k < rects.size(); ++k) {
        const Value& frame = frames.items[k];
        FUZZ_CHECK(frame.members.size() == 4);
        const Value& filename = Member(frame, 0, "filename");
        FUZZ_CHECK(filename.kind == Kind::String);
        FUZZ_CHECK(filename.text == rects[k].name);
        const Value& box = Member(frame, 1, "frame");
        FUZZ_CHECK(box.members.size() == 4);
        CheckInteger(Member(box, 0, "x"), rects[k].x);
        CheckInteger(Member(box, 1, "y"), rects[k].y);
        CheckInteger(Member(box, 2, "w"), rects[k].w);
        CheckInteger(Member(box, 3, "h"), rects[k].h);
        CheckFalse(Member(frame, 2, "rotated"));
        CheckFalse(Member(frame, 3, "trimmed"));
    }
    const Value& meta = Member(root, 1, "meta");
    FUZZ_CHECK(meta.members.size() == 2);
    const Value& app = Member(meta, 0, "app");
    FUZZ_CHECK(app.kind == Kind::String && app.text == "Velmora 2D Studio");
    const Value& atlasSize = Member(meta, 1, "size");
    FUZZ_CHECK(atlasSize.members.size() == 2);
    CheckInteger(Member(atlasSize, 0, "w"), atlasWidth);
    CheckInteger(Member(atlasSize, 1, "h"), atlasHeight);
    return 0;
}
