#pragma once
// The combined technical selector (defined with its siblings in scan_selector.h).
#include "quorvel/strategy/technical/scan_selector.h"
