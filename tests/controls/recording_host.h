// A host for the controls under test: records the property-changed notifications and hands out
// the ambient values of a running program's form.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/gui/control_host.h"

class RecordingHost : public gui::ControlHost {
 public:
  void PropertyChanged(std::string_view name) override { changed.emplace_back(name); }
  gui::FontDesc AmbientFont() const override { return {"Arial", 9.75}; }
  gui::ColorRef AmbientBackColor() const override { return 0x8000000Fu; }
  bool UserMode() const override { return user_mode; }
  std::string AmbientDisplayName(const QObject&) const override { return "MagicButton1"; }
  bool AmbientDisplayAsDefault(const QObject&) const override { return is_default; }

  std::vector<std::string> changed;
  bool user_mode = true;
  bool is_default = false;
};
