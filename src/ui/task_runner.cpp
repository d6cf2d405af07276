#include "ui/task_runner.h"

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QPointer>
#include <memory>

#include "ui/gui_thread.h"

namespace kvtr::ui {

namespace {

template <typename Begin>
bool runBehindWindow(ExchangeEngine& engine, TaskOutcome* outcome, Begin begin) {
  QEventLoop loop;
  // The engine calls back on the transmit thread once the window has closed; the outcome is
  // handed to the GUI thread, and the loop ends there.
  auto result = std::make_shared<TaskOutcome>();
  auto finished = std::make_shared<bool>(false);
  QPointer<QEventLoop> guard(&loop);
  const bool begun = begin([result, finished, guard](const TaskOutcome& taskOutcome) {
    postToGuiThread([result, finished, guard, taskOutcome] {
      *result = taskOutcome;
      *finished = true;
      if (guard) guard->quit();
    });
  });
  if (!begun) return false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // The completion runs on this thread, inside the loop (or a loop nested in it).
  if (!*finished) loop.exec();
  QApplication::restoreOverrideCursor();
  engine.AfterTask(*result);
  if (outcome != nullptr) *outcome = *result;
  return true;
}

}  // namespace

bool RunTask(ExchangeEngine& engine, TaskKind kind, ObjectWithParameters* root, TaskOutcome* outcome) {
  return runBehindWindow(engine, outcome, [&](TaskCompletion done) { return engine.BeginTask(kind, root, std::move(done)); });
}

bool RunSingleTask(ExchangeEngine& engine, TaskKind kind, Parameter* parameter, TaskOutcome* outcome) {
  return runBehindWindow(engine, outcome,
                         [&](TaskCompletion done) { return engine.BeginSingleTask(kind, parameter, std::move(done)); });
}

}  // namespace kvtr::ui
