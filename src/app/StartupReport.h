#pragma once

class PerchboxApp;

// For the start-up benchmark: when PERCHBOX_STARTUP_REPORT_FD names an open file descriptor,
// the program writes "shown\n" to it (and closes it) once the tray item is up and every
// restored shelf window has been painted. Nothing happens without the variable.

// Takes the descriptor named by the variable, first thing in main: one that is not open
// then is ignored (its number would later be some file of ours), and the programs we start
// do not inherit it.
void takeStartupReportDescriptor();
void reportStartupWhenShown(PerchboxApp &app);
