#pragma once

#include <QByteArray>

// Whole texts equal when the ASCII letters A to Z are taken without case; every other byte
// (Windows-1251 or UTF-8 letters included) must be the same.
inline bool sameIgnoringAsciiCase(const QByteArray& a, const QByteArray& b) {
  if (a.size() != b.size()) return false;
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  for (qsizetype i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}
