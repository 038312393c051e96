// The library's entry point on Windows, the other name the library gives the
// system besides its exports (api.cpp).
#include <windows.h>

#include "host_system.h"

// A detach with a reserved pointer is the end of the process: the system has
// stopped every other thread already, and the library's static objects are
// destroyed after this returns.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) plotbase::note_process_ending();
  return TRUE;
}
