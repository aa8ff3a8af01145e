#pragma once
// The desktop as a module the program loads only when it opens a desktop, so
// that the subcommands, the terminal and --version start without the toolkit.
// The module (libodefit-desktop.so, beside the program in the build, in its
// library folder installed) holds the desktop and its own copy of the core;
// the program loads it from the folder of its own libraries (main.cpp).

// The module's file name, as dlopen is given it.
#define ODEFIT_DESKTOP_MODULE "libodefit-desktop.so"

extern "C" {
// When a display can show the desktop, runs the whole program in it, stores
// the process exit status in *status and returns 1; returns 0 when no display
// can show it (the caller runs the terminal).
int odefit_run_desktop(int* status);
}
