// The property bag in which a window's design keeps its controls' persisted properties.
//
// Names compare without regard to ASCII letter case and keep the order in which they were
// first written. Values are typed; a read names the type it wants and the default to use when
// the name is absent or holds another type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/gui/font.h"
#include "platform/gui/surface.h"

namespace gui {

// A whole number, a Boolean, a text, a font, or a picture (a null Surface is "no picture").
using PropertyValue = std::variant<std::int32_t, bool, std::string, FontDesc, Surface>;

class PropertyBag {
 public:
  // Stores `value` under `name`, replacing what the name (in any letter case) held.
  void WriteProperty(std::string_view name, PropertyValue value);
  // The host's rule for defaults: a value equal to `default_value` is not stored, and whatever
  // the name held is removed, so a later read yields the default.
  void WriteProperty(std::string_view name, PropertyValue value,
                     const PropertyValue& default_value);

  // The value under `name` when it holds a T, else `default_value`.
  template <class T>
  T ReadProperty(std::string_view name, T default_value) const {
    const PropertyValue* v = Find(name);
    if (v == nullptr) return default_value;
    const T* typed = std::get_if<T>(v);
    return typed != nullptr ? *typed : default_value;
  }

  // The value under `name`, or null.
  const PropertyValue* Find(std::string_view name) const;
  // Names in the order they were first written, as written.
  std::vector<std::string> Names() const;
  bool empty() const { return entries_.empty(); }

  // The text form: one "Name = value" line per property, in order. Values are written as
  //   -12                       a whole number (32-bit)
  //   True, False               a Boolean
  //   "a \"b\" \\ \n"           a text with its escapes
  //   font("Arial", 8.25, bold=False, italic=False, underline=False, strikethrough=False)
  //   picture(<base64 of a PNG>), picture() for none
  // Names are identifiers (letters, digits, "_"), as the controls use them.
  std::string ToText() const;
  // Reads a text form back. Blank lines are ignored. Returns nothing, with *error naming the
  // line, when a line cannot be read.
  static std::optional<PropertyBag> FromText(std::string_view text, std::string* error);

 private:
  std::vector<std::pair<std::string, PropertyValue>>::iterator Locate(std::string_view name);

  std::vector<std::pair<std::string, PropertyValue>> entries_;
};

}  // namespace gui
