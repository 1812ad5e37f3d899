#pragma once

#include <QString>
#include <memory>

class QTextBrowser;

// Shows the program's help file (HTML) in a window of its own.
class HelpViewer {
 public:
  HelpViewer();
  ~HelpViewer();

  // Opens `file` at its contents page; a missing or unreadable file is said in a message box.
  void showContents(const QString& file, const QString& title);

 private:
  std::unique_ptr<QTextBrowser> window_;
};
