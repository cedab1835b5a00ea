// Which hardware configuration the handheld is. The service library and the flasher
// detect it the same way.
#pragma once

#include "shared/configuration.h"

// Asks the platform's model configuration query until it answers one of the two
// configuration words, every 5 ms. The wait has no bound: a handheld that never answers
// is broken, and guessing the model would pick the wrong reserved RAM page.
bool IsAdvancedModel();

inline const ModelAddresses& DetectedModel() { return ModelFor(IsAdvancedModel()); }
