#include "app/browser.h"
#include "bridge/jschannel.h"
#include "mainwindow/mainwindow.h"
#include "notify/notifywindow.h"
#include "tests/support/testsupport.h"

#include <QLabel>
#include <QPushButton>

class TestNotifyWindow : public QObject
{
    Q_OBJECT
    Browser *browser = nullptr;
    JsChannel channel;
    QStringList answers; // what reached the page, in emission order
    QList<QPointer<NotifyWindow>> made;

    NotifyWindow *popup(int type, JsChannel *ch = nullptr)
    {
        auto *p = new NotifyWindow(ch, 600000, type);
        p->setTitle("「周会」开始");
        p->setBusicId("B-17");
        p->setNoticeJson("{\"id\":1}");
        p->setNotifyId("N-42");
        p->setFixedSize(344, 174);
        made.append(p);
        return p;
    }
    static QLabel *child(QWidget *p, const char *n) { return p->findChild<QLabel *>(n); }
    static QTimer *timer(QWidget *p)
    {
        return p->findChild<QTimer *>({}, Qt::FindDirectChildrenOnly);
    }
    static int fadesRunning(QWidget *p, double towards)
    {
        int count = 0;
        for (auto *a : p->findChildren<QPropertyAnimation *>())
            count += a->state() == QAbstractAnimation::Running && a->endValue() == towards;
        return count;
    }

private slots:
    void initTestCase()
    {
        NotifyWindow::initTypeNames();
        browser = new Browser;
        mainWindow = browser->createWindow(0, false);
        const auto record = [this](const char *what) {
            return [this, what](const QString &arg) { answers << what + arg; };
        };
        connect(&channel, &JsChannel::receiveScheduleInHtml, this, record("receive:"));
        connect(&channel, &JsChannel::rejectScheduleInHtml, this, record("reject:"));
        connect(&channel, &JsChannel::noticeReadInHtml, this, record("read:"));
        connect(&channel, &JsChannel::showMsgNotificationInHtml, this, record("show:"));
    }
    void cleanupTestCase()
    {
        delete std::exchange(mainWindow, nullptr);
        delete browser;
    }
    void cleanup() { qDeleteAll(std::exchange(made, {})); }

    void titles()
    {
        QCOMPARE(NotifyWindow::composeTitle(1, "「周会」开始", "c"), QString("「周会」提醒你 c"));
        QCOMPARE(NotifyWindow::composeTitle(1, "周会开始", "请准时"), QString("提醒你 请准时"));
        QCOMPARE(NotifyWindow::composeTitle(2, "周会", "请准时"), QString("周会 请准时"));
        for (NotifyWindow *p : {popup(3), popup(1)}) // no caption; no start time, no time line
            p->showNotify();
        QCOMPARE(child(made.at(0), "notifyType")->text(), QString());
        QCOMPARE(child(made.at(1), "notifyTime")->text(), QString());
        // Too wide: the first line gives up the ellipsis and two characters, the second is elided.
        NotifyWindow *p = popup(2);
        const QString longTitle(150, QLatin1Char('W')); // wide in any font
        p->setTitle(longTitle);
        p->showNotify();
        QFont font = child(p, "notifyTitle")->font();
        font.setPixelSize(14);
        const QFontMetrics fm(font);
        const QStringList lines = child(p, "notifyTitle")->text().split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0).size(), fm.elidedText(longTitle, Qt::ElideRight, 308).size() - 3);
        QVERIFY(lines.at(1).endsWith(QChar(0x2026)));
        QVERIFY(fm.horizontalAdvance(lines.at(1)) <= 308 - 14);
    }

    // Without a compositor (Xvfb runs none) the corners are cut away instead of drawn black.
    void roundedMaskWithoutCompositor()
    {
        const QRegion shape = NotifyWindow::roundedShape(QSize(344, 174), 16);
        QCOMPARE(shape.boundingRect(), QRect(0, 0, 344, 174));
        for (const QPoint inside : {QPoint(172, 0), QPoint(0, 87), QPoint(343, 87),
                                    QPoint(172, 173), QPoint(7, 7), QPoint(336, 166)})
            QVERIFY2(shape.contains(inside),
                     qPrintable(QStringLiteral("%1,%2").arg(inside.x()).arg(inside.y())));
        for (const QPoint outside : {QPoint(0, 0), QPoint(343, 0), QPoint(0, 173), QPoint(343, 173),
                                     QPoint(3, 3), QPoint(340, 170)})
            QVERIFY2(!shape.contains(outside),
                     qPrintable(QStringLiteral("%1,%2").arg(outside.x()).arg(outside.y())));

        QVERIFY(NotifyWindow::needsShapeMask());
        NotifyWindow *p = popup(0);
        p->showNotify();
        QCOMPARE(p->mask(),
                 NotifyWindow::roundedShape(QSize(344, 174), NotifyWindow::CornerRadius));
    }

    void buttonAnswers()
    {
        // type, button, with a bridge, what reaches the page, whether the main window comes up
        const std::tuple<int, const char *, bool, QStringList, bool> cases[] = {
            {1, "notifyBtnKnown", true, {"read:N-42"}, false},
            {2, "notifyBtnKnown", true, {"receive:B-17", "show:{\"id\":1}"}, true},
            {2, "notifyBtnReject", true, {"reject:B-17", "show:{\"id\":1}"}, true},
            {2, "notifyBtnReject", false, {}, false},
        };
        for (const auto &[type, button, withChannel, expected, raisesWindow] : cases) {
            answers.clear();
            mainWindow->hide();
            NotifyWindow *p = popup(type, withChannel ? &channel : nullptr);
            p->showNotify();
            QTRY_VERIFY(timer(p)->isActive());
            QSignalSpy gone(p, &NotifyWindow::disappear);
            QTest::mouseClick(p->findChild<QPushButton *>(button), Qt::LeftButton);
            QCOMPARE(answers, expected);
            QVERIFY2(mainWindow->isVisible() == raisesWindow, button);
            QVERIFY(gone.wait());
        }
    }

    // A click during the fade-in fades out at once, the stay timer never armed; it disappears once.
    void clickDuringFadeIn()
    {
        NotifyWindow *p = popup(0, &channel);
        p->showNotify();
        QCOMPARE(fadesRunning(p, 1.0), 1);
        QSignalSpy gone(p, &NotifyWindow::disappear);
        QTest::mouseClick(p->findChild<QPushButton *>("notifyBtnKnown"), Qt::LeftButton);
        QCOMPARE(fadesRunning(p, 1.0), 0); // the fade-in no longer pulls the other way
        QCOMPARE(fadesRunning(p, 0.0), 1);
        QVERIFY(gone.wait());
        QVERIFY(!timer(p)->isActive());
        QTRY_COMPARE(fadesRunning(p, 0.0), 0);
        p->fadeOut();
        QCOMPARE(fadesRunning(p, 0.0), 0);
        QCOMPARE(gone.count(), 1);
    }
};

NORVA_TEST_MAIN(TestNotifyWindow)
#include "tst_notifywindow.moc"
