// Load and unload of KaMsUtil: the only code of the library that runs on its own.
//
// When a process loads the library the socket layer is started, and the shared settings block
// is mapped, so that the block lives as long as any process has the library loaded; a library
// that cannot start the socket layer refuses to load. A shared library of this system cannot make
// its load fail once the loader runs its initialisers, so the refusal ends the process through
// FatalAppExitA with the status of a program whose libraries cannot be loaded (127) and a message
// on the standard error stream: the program never runs with the library half-started. At unload the
// socket layer is released once and the shared settings block is unmapped.
#include "KaIdent.h"
#include "errhandlingapi.h"
#include "ka_settings.h"
#include "winsock2.h"

namespace {

[[gnu::constructor]] void on_library_load() {
  if (!kaInitSocket())
    FatalAppExitA(0, "KaMsUtil: the socket layer cannot be started; the library cannot be loaded.");
  ka_settings();
}

[[gnu::destructor]] void on_library_unload() {
  WSACleanup();
  ka_release_settings();
}

}  // namespace
