// Names of the temporary copies written beside their targets.
#pragma once

#include "base/format.h"

// The last character of a temporary name runs from A to this letter; when
// every name is taken the copy cannot be made.
static const char LastTempLetter = 'Z';

// tempPath (260 bytes) = target with its extension replaced by ".$$A".
// 0 when the name would not fit.
int FirstTempName(char* tempPath, const char* target);
// Steps the last character on (.$$A, .$$B, ...); 0 when none is left.
int NextTempName(char* tempPath);
