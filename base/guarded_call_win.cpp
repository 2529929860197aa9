// The guard is a frame-based exception handler on CallGuarded's own frame:
// it sees only the exceptions that the frames of the called code leave
// unhandled, and sends the thread back into CallGuarded. On 32-bit Windows
// the frame is a registration on the thread's handler chain (fs:[0]); on
// 64-bit Windows the system finds the handler through the unwind data of
// this file, which is therefore compiled with unwind tables (the rest of
// the program has none: an exception could not travel through its frames
// to a handler further up).
#include <windows.h>

#include "base/guarded_call.h"

// Where an abandoned call resumes: GCC's own setjmp buffer (frame and stack
// pointer and the resume address; the function that sets it keeps nothing
// in registers across it).
static void* ResumePoint[5];

// Runs on the thread's stack in place of the faulting code and jumps back
// to CallGuarded.
__attribute__((noreturn, noinline, used)) static void ResumeGuardedCall() {
  __builtin_longjmp(ResumePoint, 1);
}

extern "C" __attribute__((used)) EXCEPTION_DISPOSITION __cdecl SetrunGuardHandler(
    EXCEPTION_RECORD* record, void*, CONTEXT* context, void*) {
  // Unwinds passing through (someone else's handler took the exception) are
  // none of the guard's business.
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
    return ExceptionContinueSearch;
#ifdef _WIN64
  // As if ResumeGuardedCall had just been called: aligned, return slot.
  context->Rsp = (context->Rsp & ~(DWORD64)15) - 8;
  context->Rip = (DWORD64)&ResumeGuardedCall;
#else
  context->Esp &= ~(DWORD)3;
  context->Eip = (DWORD)&ResumeGuardedCall;
#endif
  return ExceptionContinueExecution;
}

#ifndef _WIN64
struct HandlerRegistration {
  HandlerRegistration* next;
  void* handler;
};
#endif

__attribute__((noinline)) int CallGuarded(GuardedProc proc) {
#ifdef _WIN64
  // This function's unwind data names the handler.
  __asm__ __volatile__(".seh_handler SetrunGuardHandler, @except\n");
#else
  HandlerRegistration registration;
  registration.next = (HandlerRegistration*)__readfsdword(0);
  registration.handler = (void*)&SetrunGuardHandler;
  __writefsdword(0, (DWORD)(DWORD_PTR)&registration);
#endif
  volatile int completed = 0;
  if (__builtin_setjmp(ResumePoint) == 0) {
    proc();
    completed = 1;
  }
#ifndef _WIN64
  // Drops the registration, and with it any the abandoned code left above.
  __writefsdword(0, (DWORD)(DWORD_PTR)registration.next);
#endif
  return completed;
}
