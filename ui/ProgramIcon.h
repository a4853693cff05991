// The program's icon: the desktop theme's when it is installed, else the
// same picture drawn by the program (a build-tree run, or a desktop whose
// Qt cannot read the SVG file).
#pragma once

#include <QIcon>

namespace kyvo {

QIcon programIcon();

}  // namespace kyvo
