#pragma once

class PerchboxApp;

// For the start-up benchmark: when PERCHBOX_STARTUP_REPORT_FD names an open file descriptor,
// the program writes "shown\n" to it (and closes it) once the tray item is up and every
// restored shelf window has been painted. Nothing happens without the variable.
void reportStartupWhenShown(PerchboxApp &app);
