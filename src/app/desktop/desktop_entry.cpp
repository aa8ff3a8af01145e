#include "app/desktop/desktop_entry.h"

#include "app/desktop/desktop_session.h"

extern "C" [[gnu::visibility("default")]] int odefit_run_desktop(int* status) {
  if (!odefit::DesktopAvailable()) return 0;
  int qtArgc = 1;  // the options are the program's; the toolkit sees none of them
  char name[] = "odefit";
  char* qtArgv[] = {name, nullptr};
  *status = odefit::RunDesktop(qtArgc, qtArgv);
  return 1;
}
