#pragma once

// Kept for hosts that include the export macro from here; it lives in vask/util/ so that every
// layer can mark its public declarations without including the client layer.
#include "vask/util/tamsu_export.h"
