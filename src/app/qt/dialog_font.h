#pragma once
// The window's font: 9 point, a Japanese-capable face where one is installed,
// so that port names in Japanese read right; else the default UI font.

#include <QFont>

namespace corvane::app::qt {

QFont DialogFont();

}  // namespace corvane::app::qt
