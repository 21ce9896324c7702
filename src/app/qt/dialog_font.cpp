#include "app/qt/dialog_font.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStringList>

namespace corvane::app::qt {

QFont DialogFont() {
    static const QStringList kFaces{"Noto Sans CJK JP", "Noto Sans JP", "IPAGothic",
                                    "TakaoGothic",      "MS UI Gothic", "Meiryo UI"};
    const QStringList installed = QFontDatabase::families();
    QFont font = QApplication::font();
    for (const QString& face : kFaces) {
        if (installed.contains(face)) {
            font = QFont(face);
            break;
        }
    }
    font.setPointSize(9);
    return font;
}

}  // namespace corvane::app::qt
