// The wizard: page sequence and the restart question.
#pragma once

void RunWizard();
// Runs the restart question modally; 1 = restart now.
int AskRestart();
