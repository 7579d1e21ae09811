// What a control asks of the window that hosts it.
#pragma once

#include <QObject>

#include <string>
#include <string_view>

#include "platform/gui/color.h"
#include "platform/gui/font.h"

namespace gui {

class ControlHost {
 public:
  virtual ~ControlHost() = default;

  // A persisted property of the control now differs from the window's design; `name` is its
  // key in the property bag.
  virtual void PropertyChanged(std::string_view name) = 0;

  // The host's own font and back colour, for controls that follow them.
  virtual FontDesc AmbientFont() const = 0;
  virtual ColorRef AmbientBackColor() const = 0;

  // False while the window is being designed, true when the program runs.
  virtual bool UserMode() const = 0;

  // The name the window gives `control` when it is placed on it for the first time (a new
  // button shows it as its caption). Empty unless the host names its controls.
  virtual std::string AmbientDisplayName(const QObject& /*control*/) const { return {}; }
  // Whether the window shows `control` as its default button (the one Enter presses).
  virtual bool AmbientDisplayAsDefault(const QObject& /*control*/) const { return false; }
};

}  // namespace gui
