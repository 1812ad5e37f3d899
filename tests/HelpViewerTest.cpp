#include "platform/forms/HelpViewer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>

namespace {

// Runs `check` on the modal box that the next call opens, then closes the box.
void onNextModal(std::function<void(QMessageBox*)> check) {
  QTimer::singleShot(0, [check] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    check(box);
    if (box) box->done(QMessageBox::Ok);
  });
}

TEST(HelpViewer, MissingFileIsSaidNotCrashed) {
  HelpViewer viewer;
  QString text;
  onNextModal([&](QMessageBox* box) {
    ASSERT_NE(box, nullptr);
    text = box->text();
  });
  viewer.showContents(QStringLiteral("/nonexistent/Vendrel/vendrel.hlp"),
                      QStringLiteral("Вендрел"));
  EXPECT_TRUE(text.contains(QStringLiteral("/nonexistent/Vendrel/vendrel.hlp")))
      << text.toStdString();
}

TEST(HelpViewer, ShowsTheHelpFile) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("vendrel.hlp"));
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("<html><body><h1>Содержание справки</h1></body></html>");
  f.close();
  HelpViewer viewer;
  viewer.showContents(file, QStringLiteral("Вендрел"));
  QTextBrowser* shown = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* b = qobject_cast<QTextBrowser*>(w); b && b->isVisible()) shown = b;
  ASSERT_NE(shown, nullptr);
  EXPECT_TRUE(shown->toPlainText().contains(QStringLiteral("Содержание справки")));
}

}  // namespace
