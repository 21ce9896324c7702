#pragma once
// Dialog units to pixels, the way Windows lays out a dialog template: the base
// width is the average width of the Latin letters, the base height the font's
// line height; x = du * width / 4 and y = du * height / 8, rounded.

#include <QFont>
#include <QRect>

namespace corvane::app::qt {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int X(int du) const;
    int Y(int du) const;
    QRect Rect(int x, int y, int width, int height) const;

private:
    int m_baseWidth;
    int m_baseHeight;
};

}  // namespace corvane::app::qt
