// The program's icons by their resource ids (128, 131 to 134, 138, 142),
// drawn from the SVG files compiled into the program.
#pragma once

#include <QIcon>

namespace orvalin::desktop {

// A null icon for an unknown id.
QIcon IconById(int id);

}  // namespace orvalin::desktop
