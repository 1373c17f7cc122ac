// A strict reader of Godot 4 text resources and scenes (.tres / .tscn),
// applying the grammar of Godot's own loader and refusing anything it
// would refuse or misread: the header tag, section order, ids declared
// before use, exactly one [resource] ending a .tres, and value syntax.
#ifndef VELMORA_TESTS_SUPPORT_GODOT_TEXT_READER_H
#define VELMORA_TESTS_SUPPORT_GODOT_TEXT_READER_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace GodotText {

struct Value {
    enum class Kind { Null, Bool, Int, Float, String, StringName, Array, Dict, Construct, ExtRef, SubRef };
    Kind kind = Kind::Null;
    bool boolean = false;
    int64_t integer = 0;
    double real = 0.0;
    std::string text;              // string value, constructor name, or ref id
    std::vector<double> numbers;   // constructor arguments (flat)
    std::vector<std::string> strings;  // PackedStringArray items
    std::vector<Value> items;      // array items
    std::vector<std::pair<Value, Value>> entries;  // dictionary entries in order

    // Dictionary lookup by string key; nullptr when absent or not a dictionary.
    const Value* Get(const std::string& key) const;
};

struct Section {
    std::string tag;
    int line = 0;
    std::vector<std::pair<std::string, Value>> attrs;
    std::vector<std::pair<std::string, Value>> props;
    const Value* Attr(const std::string& name) const;
    const Value* Prop(const std::string& name) const;
    std::string AttrText(const std::string& name) const;  // "" when absent
};

struct Document {
    Section header;  // gd_resource or gd_scene
    std::vector<Section> sections;
    std::vector<const Section*> All(const std::string& tag) const;
    const Section* SubResource(const std::string& id) const;
    const Section* ExtResource(const std::string& id) const;
};

struct Result {
    bool ok = false;
    std::string error;  // "line N: reason" when !ok
    Document doc;
};

Result Parse(const std::string& text);

}  // namespace GodotText

#endif  // VELMORA_TESTS_SUPPORT_GODOT_TEXT_READER_H
