#include <cstdio>
#include <stdexcept>

#include "about/Aboutdialog.h"
#include "app/Unit1.h"
#include "platform/Backend.h"
#include "platform/forms/Application.h"

TForm1* Form1 = nullptr;

int main(int argc, char* argv[]) {
  std::unique_ptr<::Application> Application;
  try {
    Application = createApplication(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vendrel: %s\n", e.what());
    return 1;
  }
  try {
    Form1 = Application->createForm<TForm1>();
    AboutDialog1 = Application->createHidden<TAboutDialog1>(nullptr, *Application);
    return Application->run();  // 0, unless the desktop refused to show the screen
  } catch (const std::exception& e) {
    Application->showException(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    Application->showException(QString());
  }
  return 1;  // a start-up that failed is one, for whoever started the program
}
