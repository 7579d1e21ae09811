// The drawing layer compares property keys and font names as the rest of the system does.
#pragma once

#include "platform/core/names.h"

namespace gui {

using platform::SameName;

}  // namespace gui
