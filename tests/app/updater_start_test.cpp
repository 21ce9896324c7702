// Start-up in Qt: a copy beyond the twentieth gets the refusal box and no
// window; a copy with a free number runs its window under its own title.

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

#include "app/qt/updater_start.h"
#include "midi/loopback_backend.h"

namespace corvane::app::qt {

class UpdaterStartTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_locks;

private slots:
    void twentyFirstCopyIsRefusedWithoutAWindow() {
        std::vector<std::unique_ptr<CVekUpdatorApp>> running;
        for (int i = 0; i < 20; ++i) {
            running.push_back(std::make_unique<CVekUpdatorApp>(m_locks.path().toStdString()));
            QVERIFY(running.back()->ClaimInstanceNumber() == InstanceClaim::kClaimed);
        }
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        bool owned = true;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                caption = box->windowTitle();
                text = box->text();
                icon = box->icon();
                buttons = box->standardButtons();
                owned = box->parentWidget() != nullptr;
                box->button(QMessageBox::Ok)->click();
            }
        });
        CVekUpdatorApp app(m_locks.path().toStdString());
        bool backendMade = false;
        const int code = RunUpdater(app, [&] {
            backendMade = true;
            return std::make_unique<midi::LoopbackBackend>();
        });
        QCOMPARE(code, 0);
        QVERIFY(!backendMade);
        QCOMPARE(app.GetInstanceNumber(), 0);
        QCOMPARE(text,
                 QString("It is forbidden to launch more than 20 instance of this application."));
        QCOMPARE(caption, QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
        QCOMPARE(icon, QMessageBox::Warning);
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(!owned);
    }

    void unusableLockDirectoryGetsItsOwnBoxWithoutAWindow() {
        // A file where the directory should be: no marker can be made there.
        const QString blocked = m_locks.path() + "/blocked";
        QFile file(blocked);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QString text;
        bool owned = true;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                text = box->text();
                owned = box->parentWidget() != nullptr;
                box->button(QMessageBox::Ok)->click();
            }
        });
        CVekUpdatorApp app(blocked.toStdString());
        bool backendMade = false;
        const int code = RunUpdater(app, [&] {
            backendMade = true;
            return std::make_unique<midi::LoopbackBackend>();
        });
        QVERIFY(!backendMade);
        QCOMPARE(app.GetInstanceNumber(), 0);
        QVERIFY2(text.contains("cannot create or use its lock directory"), qPrintable(text));
        QVERIFY2(text.contains(blocked), qPrintable(text));
        QVERIFY(!owned);
        QCOMPARE(code, 1);
    }

    void copyRunsItsWindowUnderItsNumber() {
        CVekUpdatorApp first(m_locks.path().toStdString());
        CVekUpdatorApp second(m_locks.path().toStdString());
        QVERIFY(first.ClaimInstanceNumber() == InstanceClaim::kClaimed);
        QVERIFY(second.ClaimInstanceNumber() == InstanceClaim::kClaimed);

        QString title;
        QTimer::singleShot(0, [&] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (auto* window = dynamic_cast<UpdaterWindow*>(top);
                    window && window->isVisible()) {
                    title = window->windowTitle();
                    window->findChild<QPushButton*>("control2")->click();
                }
            }
        });
        CVekUpdatorApp app(m_locks.path().toStdString());
        const int code = RunUpdater(app, [] { return std::make_unique<midi::LoopbackBackend>(); });
        QCOMPARE(code, 0);
        QCOMPARE(app.GetInstanceNumber(), 3);
        QCOMPARE(title, QString("BRAX Corvane System v1.10 Updater (3)"));
    }
};

}  // namespace corvane::app::qt

QTEST_MAIN(corvane::app::qt::UpdaterStartTest)
#include "updater_start_test.moc"
