#include "platform/gui/property_bag.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

#include "platform/gui/names.h"

namespace gui {

namespace {

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

const char* BoolText(bool b) { return b ? "True" : "False"; }

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The text form must read the same in every locale, so no user number format here.
std::string PlainNumberText(double number) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, number).ptr;
  return std::string(text, end);
}

std::string PictureText(const Surface& picture) {
  if (picture.IsNull()) return "picture()";
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  picture.image().save(&buffer, "PNG");
  return "picture(" + png.toBase64().toStdString() + ")";
}

std::string ValueText(const PropertyValue& value) {
  struct Visitor {
    std::string operator()(std::int32_t v) const { return std::to_string(v); }
    std::string operator()(bool v) const { return BoolText(v); }
    std::string operator()(const std::string& v) const { return Quote(v); }
    std::string operator()(const FontDesc& f) const {
      return "font(" + Quote(f.name) + ", " + PlainNumberText(f.size) +
             ", bold=" + BoolText(f.bold) + ", italic=" + BoolText(f.italic) +
             ", underline=" + BoolText(f.underline) +
             ", strikethrough=" + BoolText(f.strikethrough) + ")";
    }
    std::string operator()(const Surface& s) const { return PictureText(s); }
  };
  return std::visit(Visitor{}, value);
}

// A cursor over one value's text.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  void SkipBlanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }
  bool AtEnd() {
    SkipBlanks();
    return pos_ == text_.size();
  }
  bool Take(std::string_view word) {
    SkipBlanks();
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }
  std::optional<std::string> QuotedText() {
    SkipBlanks();
    if (pos_ >= text_.size() || text_[pos_] != '"') return std::nullopt;
    std::string out;
    for (++pos_; pos_ < text_.size(); ++pos_) {
      const char c = text_[pos_];
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (c == '\\') {
        if (++pos_ >= text_.size()) return std::nullopt;
        const char e = text_[pos_];
        if (e == 'n') {
          out += '\n';
        } else if (e == '"' || e == '\\') {
          out += e;
        } else {
          return std::nullopt;
        }
      } else {
        out += c;
      }
    }
    return std::nullopt;
  }
  std::optional<bool> Boolean() {
    if (Take("True")) return true;
    if (Take("False")) return false;
    return std::nullopt;
  }
  std::optional<std::int32_t> Integer() {
    SkipBlanks();
    std::int32_t v = 0;
    const char* begin = text_.data() + pos_;
    const auto r = std::from_chars(begin, text_.data() + text_.size(), v);
    if (r.ec != std::errc() || r.ptr == begin) return std::nullopt;
    pos_ += static_cast<size_t>(r.ptr - begin);
    return v;
  }
  std::optional<double> Number() {
    SkipBlanks();
    double v = 0;
    const char* begin = text_.data() + pos_;
    const auto r = std::from_chars(begin, text_.data() + text_.size(), v);
    if (r.ec != std::errc() || r.ptr == begin || !std::isfinite(v)) return std::nullopt;
    pos_ += static_cast<size_t>(r.ptr - begin);
    return v;
  }
  std::string_view UpTo(char end) {
    const size_t at = text_.find(end, pos_);
    const size_t stop = at == std::string_view::npos ? text_.size() : at;
    const std::string_view part = text_.substr(pos_, stop - pos_);
    pos_ = stop;
    return part;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

std::optional<bool> FontFlag(Reader& r, std::string_view name) {
  if (!r.Take(",") || !r.Take(name) || !r.Take("=")) return std::nullopt;
  return r.Boolean();
}

std::optional<PropertyValue> ParseFont(Reader& r) {
  FontDesc f;
  const auto name = r.QuotedText();
  if (!name || !r.Take(",")) return std::nullopt;
  const auto size = r.Number();
  if (!size) return std::nullopt;
  const auto bold = FontFlag(r, "bold");
  const auto italic = FontFlag(r, "italic");
  const auto underline = FontFlag(r, "underline");
  const auto strikethrough = FontFlag(r, "strikethrough");
  if (!bold || !italic || !underline || !strikethrough || !r.Take(")")) return std::nullopt;
  f.name = *name;
  f.size = *size;
  f.bold = *bold;
  f.italic = *italic;
  f.underline = *underline;
  f.strikethrough = *strikethrough;
  return f;
}

std::optional<PropertyValue> ParsePicture(Reader& r) {
  const std::string_view base64 = r.UpTo(')');
  if (!r.Take(")")) return std::nullopt;
  if (base64.find_first_not_of(" \t") == std::string_view::npos) return Surface();
  const QByteArray png =
      QByteArray::fromBase64(QByteArray(base64.data(), static_cast<qsizetype>(base64.size())),
                             QByteArray::AbortOnBase64DecodingErrors);
  QImage image;
  if (png.isEmpty() || !image.loadFromData(png, "PNG")) return std::nullopt;
  return Surface::FromImage(image);
}

std::optional<PropertyValue> ParseValue(std::string_view text) {
  Reader r(text);
  std::optional<PropertyValue> value;
  if (r.Take("font(")) {
    value = ParseFont(r);
  } else if (r.Take("picture(")) {
    value = ParsePicture(r);
  } else if (auto b = r.Boolean()) {
    value = *b;
  } else if (auto s = r.QuotedText()) {
    value = std::move(*s);
  } else if (auto i = r.Integer()) {
    value = *i;
  }
  if (!value || !r.AtEnd()) return std::nullopt;
  return value;
}

}  // namespace

std::vector<std::pair<std::string, PropertyValue>>::iterator PropertyBag::Locate(
    std::string_view name) {
  return std::find_if(entries_.begin(), entries_.end(),
                      [name](const auto& e) { return SameName(e.first, name); });
}

void PropertyBag::WriteProperty(std::string_view name, PropertyValue value) {
  const auto it = Locate(name);
  if (it != entries_.end()) {
    it->second = std::move(value);
  } else {
    entries_.emplace_back(std::string(name), std::move(value));
  }
}

void PropertyBag::WriteProperty(std::string_view name, PropertyValue value,
                                const PropertyValue& default_value) {
  if (value == default_value) {
    const auto it = Locate(name);
    if (it != entries_.end()) entries_.erase(it);
    return;
  }
  WriteProperty(name, std::move(value));
}

const PropertyValue* PropertyBag::Find(std::string_view name) const {
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [name](const auto& e) { return SameName(e.first, name); });
  return it == entries_.end() ? nullptr : &it->second;
}

std::vector<std::string> PropertyBag::Names() const {
  std::vector<std::string> names;
  names.reserve(entries_.size());
  for (const auto& e : entries_) names.push_back(e.first);
  return names;
}

std::string PropertyBag::ToText() const {
  std::string out;
  for (const auto& [name, value] : entries_) out += name + " = " + ValueText(value) + "\n";
  return out;
}

std::optional<PropertyBag> PropertyBag::FromText(std::string_view text, std::string* error) {
  PropertyBag bag;
  int line_number = 0;
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;

    const auto fail = [&](const char* why) {
      if (error != nullptr) *error = "line " + std::to_string(line_number) + ": " + why;
      return std::nullopt;
    };
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail("no \"=\"");
    std::string_view name = line.substr(0, eq);
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    if (name.empty() || !std::all_of(name.begin(), name.end(), IsNameChar))
      return fail("the name is not an identifier");
    auto value = ParseValue(line.substr(eq + 1));
    if (!value) return fail("the value cannot be read");
    bag.WriteProperty(name, std::move(*value));
  }
  return bag;
}

}  // namespace gui
