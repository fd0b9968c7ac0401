// Program entry: the main window, the application title, the reception
// dialog, and the event loop until the main window has closed.
#include <QApplication>
#include <exception>
#include <memory>

#include "monitor/errorreport.h"
#include "monitor/korvanep.h"
#include "monitor/messagepump.h"
#include "monitor/recievef.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The application's title (also the caption of the error report). Not the
  // display name: Qt would append that to every window caption.
  QApplication::setApplicationName(QStringLiteral("Korvane"));
  // The ports' notifications reach their windows through this, in every
  // event loop of the program, modal ones included.
  korvane::TMessagePump pump;

  std::unique_ptr<korvane::TMonitorForm> form;
  try {
    form = std::make_unique<korvane::TMonitorForm>();
  } catch (const std::exception& e) {
    korvane::ShowErrorReport(e.what());
    return 1;
  }
  korvane::TRecieveForm recieveForm(form.get());
  korvane::RecieveForm = &recieveForm;

  form->show();
  const int result = QApplication::exec();
  korvane::RecieveForm = nullptr;
  return result;
}
