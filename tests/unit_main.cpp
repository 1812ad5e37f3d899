#include <gtest/gtest.h>

#include <QCoreApplication>

// No GUI application on purpose: a test here that reaches for a window or a screen fails,
// and belongs with the widget tests.
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
