#pragma once

// Starts the program: the main window, until it is closed.
int runPagelift(int argc, char *argv[]);
