#pragma once

#include <QString>

// A warning box with one OK button that blocks every window of the program until it is
// closed (task-modal).
void warningBox(const QString& text, const QString& caption);
