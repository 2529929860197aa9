// Common controls and visual styles.
#pragma once

// Loads the theme library (when there is one) and initialises the common
// controls.
void InitCommonUi();
// Keeps visual styles for window frames only (when the theme library offers
// it).
void LimitThemes();
// Releases what InitCommonUi loaded.
void ReleaseCommonUi();
