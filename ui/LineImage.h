// The line profile picture is drawn by the report library too, so that a
// printed report shows the profile exactly as the window does.
#pragma once

#include "report/LineImage.h"
