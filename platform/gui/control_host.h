// What a control asks of the window that hosts it.
#pragma once

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
};

}  // namespace gui
