#pragma once

#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

class Attention;
class ScreenSource;
class Shell;
class SystemInfo;
class TopLevelWindows;
class ViewSurface;

// The application object: one per process. It owns the forms, knows the executable, the
// title and the help file, and hands out the desktop's services.
class Application {
 public:
  Application() = default;
  virtual ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Creates a form owned by the application and runs its creation handler; the first form
  // created becomes the main window. Forms start hidden.
  template <class Form>
  Form* createForm() {
    auto form = std::make_unique<Form>(*this);
    Form* created = form.get();
    if (!mainForm_) mainForm_ = created;
    forms_.push_back(std::move(form));
    created->FormCreate();
    return created;
  }
  // Creates a form owned by the application without running any handler.
  template <class Form, class... Args>
  Form* createHidden(Args&&... args) {
    auto form = std::make_unique<Form>(std::forward<Args>(args)...);
    Form* created = form.get();
    forms_.push_back(std::move(form));
    return created;
  }
  QWidget* mainForm() const { return mainForm_; }

  // Shows the main window and dispatches events until termination. A termination requested
  // before the loop starts ends it at its first turn, and nothing is shown. A loop ended any
  // other way with the main window still open (the session manager's quit) closes it as its
  // close button would.
  int run();
  // A request: the loop ends at its next turn.
  void terminate();
  // What the main window's close button does, from wherever it is asked: its close handler
  // runs and the program ends, a modal dialog that may be open included.
  void closeMainForm();
  // What a signal that asks the program to end does: closeMainForm() once the loop runs; before
  // that, whatever waits on the user (a start-up message box) gives up, and the loop never
  // starts.
  void quitAsked();
  bool terminated() const { return terminated_; }

  // The title is also the title of the application's hidden window.
  virtual void setTitle(const QString& title) { title_ = title; }
  QString title() const { return title_; }

  QString exeName() const { return exeName_; }
  // The user's own configuration folder: $XDG_CONFIG_HOME when it is an absolute path, else
  // ~/.config; empty when the home folder does not exist.
  virtual QString configHome() const;
  // Whether this user can write in `folder`, or make it where it is missing.
  virtual bool canWriteIn(const QString& folder) const;
  // Makes `folder`, and the folders above it that are missing; readable by its user alone when
  // `private`. False when it cannot.
  virtual bool makeFolder(const QString& folder, bool privateToUser) const;
  void setHelpFile(const QString& path) { helpFile_ = path; }
  QString helpFile() const { return helpFile_; }
  // Help command 3 (data 0) shows the contents page of the help file.
  virtual void helpCommand(int command, int data) = 0;

  bool minimized() const;
  // What another copy asks of this one: the main window restored if minimised, raised and
  // activated.
  void bringForward();
  // The error box for an exception that escaped a handler or start-up.
  void showException(const QString& message) const;
  // A warning as the program ends (its settings not saved, say), when the user closed it. It
  // never holds the ending up: the box closes itself after a while, and at once when the
  // program is asked to end (a logout, a shutdown); nothing shows when that is how it ends.
  virtual void warnAtEnd(const QString& text) const;
  // Where the pixels and the pointer come from, and a surface that puts them on a view.
  virtual ScreenSource& screen() = 0;
  virtual std::unique_ptr<ViewSurface> createSurface() = 0;
  virtual TopLevelWindows& windows() = 0;
  // Where the other programs' keyboard focus and text cursor are.
  virtual Attention& attention() = 0;
  virtual Shell& shell() = 0;
  virtual SystemInfo& system() = 0;

 protected:
  void setExeName(const QString& path) { exeName_ = path; }
  // Destroys the forms; implementations call it before they take down their own services.
  void releaseForms();

 private:
  std::vector<std::unique_ptr<QWidget>> forms_;
  QWidget* mainForm_ = nullptr;
  QString title_;
  QString exeName_;
  QString helpFile_;
  bool terminated_ = false;
  bool running_ = false;
  bool asked_ = false;  // to end, by a signal or the session manager: not by the user
};
