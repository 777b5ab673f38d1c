#pragma once

#include <functional>

class Dialogs;
class QWidget;

// True when a word processor of the current user is already running (a LibreOffice
// process); Pagelift's own engines do not count. Any failure of the check counts as
// "not running".
bool IsWordRunning();

// Asks the user whether to go on when a word processor is already running. True
// when the run must not start.
bool WordGuardCancels(Dialogs &dialogs, QWidget *parent,
                      const std::function<bool()> &isWordRunning = IsWordRunning);
