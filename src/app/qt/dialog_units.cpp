#include "app/qt/dialog_units.h"

#include <QFontMetrics>

namespace corvane::app::qt {

namespace {

// a * b / c rounded to the nearest integer, as Windows' MulDiv does.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int extent =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    // Windows halves the extent of the 52 letters, then rounds half up.
    m_baseWidth = (extent / 26 + 1) / 2;
    m_baseHeight = metrics.height();
}

int DialogUnits::X(int du) const {
    return MulDiv(du, m_baseWidth, 4);
}

int DialogUnits::Y(int du) const {
    return MulDiv(du, m_baseHeight, 8);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}

}  // namespace corvane::app::qt
