// Type rendering: the type model as TypeScript type text.
#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "generator/generator.h"

namespace {

// Each family of rendered text has a fixed room; a text longer than its room
// minus the terminator is cut there.
constexpr std::size_t kSetRoom = 64;
constexpr std::size_t kMapRoom = 64;
constexpr std::size_t kArrayRoom = 128;
constexpr std::size_t kObjectRoom = 512;

std::string cut_to_room(std::string text, std::size_t room) {
  if (text.size() > room - 1) text.resize(room - 1);
  return text;
}

// Word of a union member, an object field or a type-field kind.
const char* primitive_word(int kind) {
  switch (kind) {
    case TYPE_NUMBER: return "number";
    case TYPE_STRING: return "string";
    case TYPE_BOOLEAN: return "boolean";
    default: return nullptr;
  }
}

// Array element words: a promise element is Promise<any>, anything else
// unnamed is any.
const char* array_element_word(int kind) {
  if (const char* word = primitive_word(kind)) return word;
  return kind == TYPE_PROMISE ? "Promise<any>" : "any";
}

// Set element words: unlike arrays, a promise is Promise<void> and an object
// is object.
const char* set_element_word(int kind) {
  if (const char* word = primitive_word(kind)) return word;
  if (kind == TYPE_PROMISE) return "Promise<void>";
  if (kind == TYPE_OBJECT) return "object";
  return "any";
}

// Map keys know no boolean.
const char* map_key_word(int kind) {
  if (kind == TYPE_STRING) return "string";
  if (kind == TYPE_NUMBER) return "number";
  return "any";
}

const char* map_value_word(int kind) {
  if (const char* word = primitive_word(kind)) return word;
  return kind == TYPE_OBJECT ? "object" : "any";
}

int bounded_member_count(int member_count) {
  return std::clamp(member_count, 0, kMaxUnionMembers);
}

// Members 1, 2 and 3 by name, every other member left out; at most 37
// characters, so it always fits its room.
std::string render_union(const TypeInfo& type) {
  std::string text;
  const int count = bounded_member_count(type.member_count);
  for (int i = 0; i < count; ++i) {
    const char* word = primitive_word(type.members[i]);
    if (word == nullptr) continue;
    if (!text.empty()) text += " | ";
    text += word;
  }
  return text.empty() ? "any" : text;
}

// A returned object literal: "{ name: word; ... }". A text that would not fit
// its room is rendered "object" rather than cut, so the declaration it ends up
// in still parses.
std::string render_object(const TypeInfo& type) {
  std::string text = "{ ";
  for (std::size_t i = 0; i < type.fields.size(); ++i) {
    if (i > 0) text += "; ";
    const char* word = primitive_word(type.fields[i].kind);
    text += type.fields[i].name;
    text += ": ";
    text += word != nullptr ? word : "any";
    if (text.size() > kObjectRoom - 1) return "object";
  }
  text += " }";
  return text.size() > kObjectRoom - 1 ? "object" : text;
}

// Node modules whose types the passes name as MODULE.Type.
constexpr std::string_view kNodeModules[] = {"fs",     "readline", "http", "https", "net",  "events",
                                             "stream", "crypto",   "zlib", "url",   "os",   "child_process"};

std::string render_named(const TypeInfo& type) {
  if (type.type_name.empty()) return "any";
  // The fs stream types are imported by their bare names (see the emitter's
  // type-only imports).
  if (type.type_name == "fs.ReadStream") return "ReadStream";
  if (type.type_name == "fs.WriteStream") return "WriteStream";
  // `readline.Interface` names a namespace that the file does not declare
  // (its `readline` is a variable, if anything): the type is reached through
  // the module itself.
  const std::string_view name = type.type_name;
  const std::size_t dot = name.find('.');
  if (dot != std::string_view::npos &&
      std::find(std::begin(kNodeModules), std::end(kNodeModules), name.substr(0, dot)) != std::end(kNodeModules)) {
    return "import('" + std::string(name.substr(0, dot)) + "')" + std::string(name.substr(dot));
  }
  return type.type_name;
}

TypeInfo kind_only(int kind) {
  TypeInfo type;
  type.kind = static_cast<TypeKind>(kind);
  return type;
}

}  // namespace

std::string type_to_string(const TypeInfo& type) {
  switch (type.kind) {
    case TYPE_NUMBER:
    case TYPE_STRING:
    case TYPE_BOOLEAN: return primitive_word(type.kind);
    case TYPE_UNION: return render_union(type);
    case TYPE_VOID: return "void";
    case TYPE_OBJECT: return render_object(type);
    case TYPE_ARRAY:
      return cut_to_room(std::string(array_element_word(type.element_kind)) + "[]", kArrayRoom);
    case TYPE_RESPONSE: return "Response";
    case TYPE_READSTREAM: return "ReadStream";
    // Without its name an interface type names nothing the file declares.
    case TYPE_INTERFACE: return type.interface_name.empty() ? "unknown" : type.interface_name;
    case TYPE_SET:
      return cut_to_room(std::string("Set<") + set_element_word(type.element_kind) + ">", kSetRoom);
    case TYPE_PROMISE: return "Promise<void>";
    case TYPE_MAP:
      return cut_to_room(std::string("Map<") + map_key_word(type.key_kind) + ", " +
                             map_value_word(type.value_kind) + ">",
                         kMapRoom);
    case TYPE_NAMED: return render_named(type);
    default: return "unknown";  // 0, 8 and anything else
  }
}

void generate_object_type(std::ostream& out, const FieldList& fields, bool readonly) {
  // Literals may nest very deeply, so the nesting is walked with an explicit
  // stack rather than by recursion. The readonly flag of the outer object
  // applies at every level.
  struct Frame {
    const FieldList* fields;
    std::size_t next;
  };
  std::vector<Frame> stack{{&fields, 0}};
  out << "{ ";
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.fields->size()) {
      out << " }";
      stack.pop_back();
      if (!stack.empty() && stack.back().next < stack.back().fields->size()) out << "; ";
      continue;
    }
    const ObjectField& field = (*frame.fields)[frame.next++];
    const bool more_follow = frame.next < frame.fields->size();
    if (readonly) out << "readonly ";
    if (field.kind == TYPE_OBJECT) {
      out << field.name << ": { ";
      stack.push_back({&field.nested_fields, 0});  // `frame` is not used past here
      continue;
    }
    out << field.name << ": " << type_to_string(kind_only(field.kind));
    if (more_follow) out << "; ";
  }
}

void generate_object_type(std::ostream& out, const ObjectInfo& object) {
  generate_object_type(out, *object.fields, object.readonly != 0);
}

void generate_array_type(std::ostream& out, const ArrayInfo& array) {
  if (array.element_kind != TYPE_UNION) {
    out << type_to_string(kind_only(array.element_kind)) << "[]";
    return;
  }
  // Unlike a union type, members without a name are written "any", not left out.
  const int count = bounded_member_count(array.member_count);
  if (count == 0) {
    out << "any[]";  // an empty "()[]" would not parse
    return;
  }
  out << "(";
  for (int i = 0; i < count; ++i) {
    if (i > 0) out << " | ";
    const char* word = primitive_word(array.members[i]);
    out << (word != nullptr ? word : "any");
  }
  out << ")[]";
}
