#include "app/browser.h"
#include "bridge/jschannel.h"
#include "mainwindow/mainwindow.h"
#include "notify/notifywindow.h"
#include "tests/support/testsupport.h"

#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTimer>

class TestNotifyWindow : public QObject
{
    Q_OBJECT

    Browser *browser = nullptr;
    MainWindow *window = nullptr;
    JsChannel channel;
    QStringList answers; // what reached the page, in emission order
    QList<QPointer<NotifyWindow>> made;

    NotifyWindow *popup(int type, JsChannel *ch, int stayTime = 600000)
    {
        auto *p = new NotifyWindow(ch, stayTime, type);
        p->setTitle(QStringLiteral("「周会」开始"));
        p->setContent(QStringLiteral("请准时"));
        p->setBusicId(QStringLiteral("B-17"));
        p->setStartTime(QStringLiteral("15分钟"));
        p->setEndTime(QStringLiteral("10:00-11:00"));
        p->setNoticeJson(QStringLiteral("{\"id\":1}"));
        p->setNotifyId(QStringLiteral("N-42"));
        p->setFixedSize(344, 174);
        made.append(p);
        return p;
    }
    template<class T = QLabel> static T *child(NotifyWindow *p, const char *name)
    {
        return p->findChild<T *>(QLatin1String(name));
    }
    static QTimer *stayTimerOf(QWidget *p)
    {
        return p->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    }
    static int fadesRunning(QWidget *p, double towards)
    {
        int count = 0;
        for (QPropertyAnimation *a : p->findChildren<QPropertyAnimation *>())
            count +=
                a->state() == QAbstractAnimation::Running && a->endValue().toDouble() == towards;
        return count;
    }

private slots:
    void initTestCase()
    {
        NotifyWindow::initTypeNames();
        browser = new Browser;
        window = browser->createWindow(0, false);
        mainWindow = window;
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
        mainWindow = nullptr;
        delete window;
        delete browser;
    }
    void cleanup()
    {
        qDeleteAll(made);
        made.clear();
    }

    void appearancePerType()
    {
        // type, caption, title, content line, text of the known button
        const std::tuple<int, const char *, const char *, const char *, const char *> cases[] = {
            {0, "任务提醒", "「周会」开始", "请准时", "知道啦"},
            {1, "日程提醒", "「周会」提醒你 请准时", "10:00-11:00", "知道啦"},
            {2, "日程邀请", "「周会」开始 请准时", "10:00-11:00", "接受"},
            {3, "", "「周会」开始", "请准时", "知道啦"},
        };
        for (const auto &[type, caption, title, contentLine, known] : cases) {
            NotifyWindow *p = popup(type, &channel);
            p->showNotify();
            QCOMPARE(child(p, "notifyType")->text(), QString::fromUtf8(caption));
            QCOMPARE(child(p, "notifyTitle")->text(), QString::fromUtf8(title));
            QCOMPARE(child(p, "notifyContent")->text(), QString::fromUtf8(contentLine));
            QCOMPARE(child(p, "notifyTime")->isVisible(), type == 1);
            QCOMPARE(child(p, "notifyTime")->text(), QStringLiteral("15分钟后"));
            QCOMPARE(child<QPushButton>(p, "notifyBtnReject")->isVisible(), type == 2);
            QCOMPARE(child<QPushButton>(p, "notifyBtnKnown")->text(), QString::fromUtf8(known));
        }
    }

    void titleRules()
    {
        QCOMPARE(NotifyWindow::composeTitle(1, "「周会」开始「x」", "c"),
                 QString("「周会」提醒你 c"));
        QCOMPARE(NotifyWindow::composeTitle(1, "周会开始", "请准时"), QString("提醒你 请准时"));
        QCOMPARE(NotifyWindow::composeTitle(2, "周会", "请准时"), QString("周会 请准时"));

        NotifyWindow *noStart = popup(1, &channel);
        noStart->setStartTime(QString());
        noStart->showNotify();
        QCOMPARE(child(noStart, "notifyTime")->text(), QString());

        // Wider than the label: two lines, the first giving up the ellipsis and two characters,
        // the second elided to the width minus 14.
        NotifyWindow *p = popup(2, &channel);
        const QString longTitle(150, QLatin1Char('W')); // wide in any font
        p->setTitle(longTitle);
        p->showNotify();
        QFont font = child(p, "notifyTitle")->font();
        font.setPixelSize(14);
        const QFontMetrics fm(font);
        const QStringList lines = child(p, "notifyTitle")->text().split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0).size(), fm.elidedText(longTitle, Qt::ElideRight, 308).size() - 3);
        QVERIFY(longTitle.startsWith(lines.at(0)));
        QVERIFY(lines.at(1).endsWith(QChar(0x2026)));
        QVERIFY(fm.horizontalAdvance(lines.at(1)) <= 308 - 14);
    }

    void buttonAnswers()
    {
        const QString show = QStringLiteral("show:{\"id\":1}");
        // type, button, with a bridge, what reaches the page, whether the main window comes up
        const std::tuple<int, const char *, bool, QStringList, bool> cases[] = {
            {0, "notifyBtnViewDetail", true, {show}, true},
            {1, "notifyBtnViewDetail", false, {}, true},
            {1, "notifyBtnKnown", true, {"read:N-42"}, false},
            {2, "notifyBtnKnown", true, {"receive:B-17", show}, true},
            {2, "notifyBtnReject", true, {"reject:B-17", show}, true},
            {2, "notifyBtnReject", false, {}, false},
        };
        for (const auto &[type, button, withChannel, expected, raisesWindow] : cases) {
            answers.clear();
            window->hide();
            NotifyWindow *p = popup(type, withChannel ? &channel : nullptr);
            p->showNotify();
            QTRY_VERIFY(stayTimerOf(p)->isActive());
            QSignalSpy gone(p, &NotifyWindow::disappear);
            QTest::mouseClick(child<QPushButton>(p, button), Qt::LeftButton);
            QCOMPARE(answers, expected);
            QVERIFY2(window->isVisible() == raisesWindow, button);
            QVERIFY(gone.wait());
            QVERIFY(p->isHidden());
        }
    }

    void fadingRules()
    {
        // A click during the fade-in fades out at once, the stay timer never armed.
        NotifyWindow *p = popup(0, &channel);
        p->showNotify();
        QCOMPARE(fadesRunning(p, 1.0), 1);
        QSignalSpy gone(p, &NotifyWindow::disappear);
        QTest::mouseClick(child<QPushButton>(p, "notifyBtnKnown"), Qt::LeftButton);
        QCOMPARE(fadesRunning(p, 1.0), 0); // the fade-in no longer pulls the other way
        QCOMPARE(fadesRunning(p, 0.0), 1);
        QVERIFY(gone.wait());
        QVERIFY(!stayTimerOf(p)->isActive());

        // A click on the body, then more fade-outs while it runs and after it ended.
        NotifyWindow *r = popup(0, &channel);
        QSignalSpy rGone(r, &NotifyWindow::disappear);
        r->showNotify();
        QTRY_VERIFY(stayTimerOf(r)->isActive());
        QTest::mouseClick(child(r, "notifyTitle"), Qt::LeftButton);
        QVERIFY(!stayTimerOf(r)->isActive());
        r->fadeOut();
        QVERIFY(rGone.wait());
        QTRY_COMPARE(fadesRunning(r, 0.0), 0);
        r->fadeOut();
        QCOMPARE(fadesRunning(r, 0.0), 0);
        QCOMPARE(rGone.count(), 1);
        QCOMPARE(gone.count(), 1);
    }
};

NORVA_TEST_MAIN(TestNotifyWindow)
#include "tst_notifywindow.moc"
