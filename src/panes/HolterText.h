// Moved to the figures layer, shared with the report.
#pragma once

#include "figures/HolterText.h"
