// Calls into code that is not the program's own (the registration entry
// point of a component) under a guard: an exception that the code does not
// handle itself ends the call instead of the program.
#pragma once

typedef long(__stdcall* GuardedProc)();

// Calls `proc`; 1 when it returned, 0 when an exception ended it. Whatever
// the code had under way when the exception came is abandoned.
int CallGuarded(GuardedProc proc);
