#include "app/browser.h"
#include "bridge/jschannel.h"
#include "mainwindow/mainwindow.h"
#include "notify/notifywindow.h"
#include "tests/support/testsupport.h"

#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTimer>

namespace {

const QChar Ellipsis(0x2026);

int fadesRunning(QWidget *popup, double towards)
{
    int count = 0;
    for (QPropertyAnimation *a : popup->findChildren<QPropertyAnimation *>())
        count += a->state() == QAbstractAnimation::Running && a->endValue().toDouble() == towards;
    return count;
}

QTimer *stayTimerOf(QWidget *popup)
{
    return popup->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
}

} // namespace

class TestNotifyWindow : public QObject
{
    Q_OBJECT

    Browser *browser = nullptr;
    MainWindow *window = nullptr;
    JsChannel channel;
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

private slots:
    void initTestCase()
    {
        NotifyWindow::initTypeNames();
        browser = new Browser;
        window = browser->createWindow(0, false);
        mainWindow = window;
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

    void appearancePerType_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("contentLine");
        QTest::addColumn<QString>("known");
        QTest::newRow("task") << 0 << "任务提醒"
                              << ":task.png"
                              << "「周会」开始"
                              << "请准时"
                              << "知道啦";
        QTest::newRow("reminder") << 1 << "日程提醒"
                                  << ":schedule.png"
                                  << "「周会」提醒你 请准时"
                                  << "10:00-11:00"
                                  << "知道啦";
        QTest::newRow("invitation") << 2 << "日程邀请"
                                    << ":schedule.png"
                                    << "「周会」开始 请准时"
                                    << "10:00-11:00"
                                    << "接受";
        QTest::newRow("other") << 3 << ""
                               << ":schedule.png"
                               << "「周会」开始"
                               << "请准时"
                               << "知道啦";
    }
    void appearancePerType()
    {
        QFETCH(int, type);
        QFETCH(QString, caption);
        QFETCH(QString, icon);
        QFETCH(QString, title);
        QFETCH(QString, contentLine);
        QFETCH(QString, known);

        NotifyWindow *p = popup(type, &channel);
        p->showNotify();
        QCOMPARE(child(p, "notifyType")->text(), caption);
        QCOMPARE(child(p, "notifyType")->styleSheet().contains("#3a78f6"), type == 0);
        QCOMPARE(child(p, "notifyTitle")->text(), title);
        QCOMPARE(child(p, "notifyContent")->text(), contentLine);
        QCOMPARE(child(p, "notifyTime")->isVisible(), type == 1);
        QCOMPARE(child(p, "notifyTime")->text(), QStringLiteral("15分钟后"));
        QCOMPARE(child<QPushButton>(p, "notifyBtnReject")->isVisible(), type == 2);
        QCOMPARE(child<QPushButton>(p, "notifyBtnKnown")->text(), known);
        QCOMPARE(child(p, "notifyBkground")->size(), p->size());
        const QImage expected =
            QPixmap(icon).scaled(14, 14, Qt::KeepAspectRatio, Qt::FastTransformation).toImage();
        QCOMPARE(p->icon()->pixmap(Qt::ReturnByValue).toImage(), expected);
        QVERIFY(QImage(":task.png") != QImage(":schedule.png")); // or the check proves nothing
    }

    void titleRules()
    {
        QCOMPARE(NotifyWindow::composeTitle(1, "「周会」开始「x」", "c"),
                 QString("「周会」提醒你 c"));
        QCOMPARE(NotifyWindow::composeTitle(1, "周会开始", "请准时"), QString("提醒你 请准时"));
        QCOMPARE(NotifyWindow::composeTitle(2, "周会", "请准时"), QString("周会 请准时"));

        NotifyWindow *noStart = popup(1, &channel);
        noStart->setStartTime(QString());
        noStart->setEndTime(QString(200, QLatin1Char('W')));
        noStart->showNotify();
        QCOMPARE(child(noStart, "notifyTime")->text(), QString());
        QVERIFY(child(noStart, "notifyContent")->text().endsWith(Ellipsis)); // one elided line

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
        QVERIFY(lines.at(1).endsWith(Ellipsis));
        QVERIFY(fm.horizontalAdvance(lines.at(1)) <= 308 - 14);

        // Only a little too wide: nothing is lost.
        QString medium;
        while (fm.horizontalAdvance(medium) <= 360)
            medium += QStringLiteral("周会");
        QCOMPARE(NotifyWindow::twoLineTitle(medium, fm, 308).remove('\n'), medium);
        QCOMPARE(NotifyWindow::twoLineTitle("短标题", fm, 308), QString("短标题"));
        QVERIFY(NotifyWindow::twoLineTitle(longTitle, fm, 0).contains('\n')); // no crash
    }

    void buttonAnswers_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("buttonName");
        QTest::addColumn<bool>("withChannel");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<bool>("raisesWindow");
        const QString show = QStringLiteral("show:{\"id\":1}");
        const QString detail = QStringLiteral("notifyBtnViewDetail");
        const QString known = QStringLiteral("notifyBtnKnown");
        const QString reject = QStringLiteral("notifyBtnReject");
        QTest::newRow("detail 0") << 0 << detail << true << QStringList{show} << true;
        QTest::newRow("detail 3") << 3 << detail << true << QStringList{show} << true;
        QTest::newRow("detail, no bridge") << 1 << detail << false << QStringList() << true;
        for (int type : {0, 1, 3})
            QTest::addRow("known %d", type)
                << type << known << true << QStringList{"read:N-42"} << false;
        QTest::newRow("accept") << 2 << known << true << QStringList{"receive:B-17", show} << true;
        QTest::newRow("reject") << 2 << reject << true << QStringList{"reject:B-17", show} << true;
        QTest::newRow("accept, no bridge") << 2 << known << false << QStringList() << false;
        QTest::newRow("reject, no bridge") << 2 << reject << false << QStringList() << false;
    }
    void buttonAnswers()
    {
        QFETCH(int, type);
        QFETCH(QString, buttonName);
        QFETCH(bool, withChannel);
        QFETCH(QStringList, answers);
        QFETCH(bool, raisesWindow);

        QSignalSpy show(&channel, &JsChannel::showMsgNotificationInHtml);
        QSignalSpy read(&channel, &JsChannel::noticeReadInHtml);
        QSignalSpy receive(&channel, &JsChannel::receiveScheduleInHtml);
        QSignalSpy reject(&channel, &JsChannel::rejectScheduleInHtml);
        window->hide();
        NotifyWindow *p = popup(type, withChannel ? &channel : nullptr);
        p->showNotify();
        QTRY_VERIFY(stayTimerOf(p)->isActive());
        QSignalSpy gone(p, &NotifyWindow::disappear);

        QTest::mouseClick(child<QPushButton>(p, buttonName.toLatin1()), Qt::LeftButton);
        QStringList got; // in emission order, which the page relies on for accept and reject
        const QList<std::pair<QSignalSpy *, const char *>> spies = {
            {&receive, "receive:"}, {&reject, "reject:"}, {&read, "read:"}, {&show, "show:"}};
        for (const auto &spy : spies) {
            for (const QList<QVariant> &args : *spy.first)
                got << spy.second + args.at(0).toString();
        }
        QCOMPARE(got, answers);
        QCOMPARE(window->isVisible(), raisesWindow);
        QVERIFY(gone.wait());
        QVERIFY(p->isHidden());
    }

    void clickDuringFadeInFadesOutAtOnce()
    {
        NotifyWindow *p = popup(0, &channel);
        p->showNotify();
        QCOMPARE(fadesRunning(p, 1.0), 1);
        QSignalSpy gone(p, &NotifyWindow::disappear);
        QTest::mouseClick(child<QPushButton>(p, "notifyBtnKnown"), Qt::LeftButton);
        QCOMPARE(fadesRunning(p, 1.0), 0); // the fade-in no longer pulls the other way
        QCOMPARE(fadesRunning(p, 0.0), 1);
        QVERIFY(gone.wait());
        QVERIFY(!stayTimerOf(p)->isActive()); // and never armed the stay timer
    }

    void endsOnce()
    {
        NotifyWindow *p = popup(1, &channel, 50);
        QSignalSpy stayed(stayTimerOf(p), &QTimer::timeout);
        QSignalSpy gone(p, &NotifyWindow::disappear);
        p->showNotify();
        QVERIFY(gone.wait()); // the stay timer ends it
        QCOMPARE(stayed.count(), 1);

        NotifyWindow *q = popup(0, &channel);
        QSignalSpy qGone(q, &NotifyWindow::disappear);
        q->showNotify();
        QTRY_VERIFY(stayTimerOf(q)->isActive());
        QTest::mouseClick(child(q, "notifyTitle"), Qt::RightButton); // ignored
        QVERIFY(stayTimerOf(q)->isActive());
        QTest::mouseClick(child(q, "notifyTitle"), Qt::LeftButton); // a click on the body
        QVERIFY(!stayTimerOf(q)->isActive());
        q->fadeOut(); // a second fade-out while the first runs
        QVERIFY(qGone.wait());
        QTRY_COMPARE(fadesRunning(q, 0.0), 0);
        q->fadeOut(); // late calls start nothing
        QCOMPARE(fadesRunning(q, 0.0), 0);
        QCOMPARE(qGone.count(), 1);
        QCOMPARE(gone.count(), 1);
    }
};

NORVA_TEST_MAIN(TestNotifyWindow)
#include "tst_notifywindow.moc"
