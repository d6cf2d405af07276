// Runs a task of the exchange engine from a command of the program: the progress window opens
// (through the user-interface interface's queued signals), the GUI thread keeps handling its
// events while the transmit thread works, and the call returns once the task has finished and its
// messages (AfterTask) have been shown: a command behaves as if it waited in a modal window.
#pragma once

#include "exchange/exchange_engine.h"

namespace kvtr::ui {

// A group task (ReadAll, WriteAll, WriteChanged, Compare, Initialise) on `root`. False when the
// task did not start (another task runs, initialising is not allowed); `outcome` receives the
// outcome.
bool RunTask(ExchangeEngine& engine, TaskKind kind, ObjectWithParameters* root, TaskOutcome* outcome = nullptr);
// ReadOne or WriteOne on one parameter.
bool RunSingleTask(ExchangeEngine& engine, TaskKind kind, Parameter* parameter, TaskOutcome* outcome = nullptr);

}  // namespace kvtr::ui
