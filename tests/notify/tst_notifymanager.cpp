#include "notify/notifymanager.h"
#include "notify/notifywindow.h"
#include "tests/support/testsupport.h"

#include <QJsonDocument>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>

#include <climits>

class TestNotifyManager : public QObject
{
    Q_OBJECT

    static QJsonObject config(const char *json) { return QJsonDocument::fromJson(json).object(); }
    static int glidesRunning(NotifyManager *manager)
    {
        int count = 0;
        for (QPropertyAnimation *a : manager->findChildren<QPropertyAnimation *>())
            count += a->propertyName() == "pos" && a->state() == QAbstractAnimation::Running;
        return count;
    }
    static int popupsAlive()
    {
        const QWidgetList all = QApplication::topLevelWidgets();
        return std::count_if(all.begin(), all.end(),
                             [](QWidget *w) { return qobject_cast<NotifyWindow *>(w); });
    }
    // Stacked from the top right corner, 194 px apart, once the glides are over.
    static void verifySlots(NotifyManager *manager)
    {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const QList<NotifyWindow *> popups = manager->popups();
        for (int i = 0; i < popups.size(); ++i)
            QTRY_COMPARE(popups.at(i)->pos(),
                         QPoint(screen.right() - 364, screen.top() + 40 + i * 194));
        QTRY_VERIFY(manager->findChildren<QPropertyAnimation *>().isEmpty());
    }

private slots:
    void cleanup() { QTRY_COMPARE(popupsAlive(), 0); }

    void ruleMatching()
    {
        NotifyManager manager;
        int target = 9;
        QVERIFY(!manager.isForceNotice(target, 6, "invite")); // no configuration
        QCOMPARE(manager.popupStayTime(), 10000);
        manager.setForceNotice(config(R"({"status": 1, "busicTypes": [2, 6, 3],
            "stayTime": 2, "noticeInfo": [
                {"targetType": 2, "busicType": 6, "key": ["invite"]},
                {"targetType": 1, "busicType": 6, "key": ["ab"]},
                {"targetType": 2, "busicType": 6, "key": ["a"]},
                {"targetType": 0, "busicType": 2, "key": ["*"]},
                {"targetType": 0, "busicType": 3, "key": ["*"]}]})"));
        QCOMPARE(manager.popupStayTime(), 2000);

        const std::tuple<int, const char *, bool, int> cases[] = {
            {6, "invited", true, 2},  {6, "invitation", false, 0}, // "invite" is no prefix of it
            {6, "abc", true, 2},                                   // "6-a" sorts before "6-ab"
            {2, "anything", true, 0}, // a lone star takes the whole business
            {3, "task", false, 0},    // listed, but only 2 and 6 may pass
        };
        for (const auto &[busic, type, popup, expectedTarget] : cases) {
            target = -7;
            QCOMPARE(manager.isForceNotice(target, busic, QLatin1String(type)), popup);
            if (popup)
                QCOMPARE(target, expectedTarget);
        }

        // A new configuration starts from scratch even without the keys; the stay time stays.
        manager.setForceNotice(config(R"({"status": 1})"));
        QVERIFY(!manager.isForceNotice(target, 6, "invite"));
        QVERIFY(manager.rules().isEmpty() && manager.allowedBusicTypes().isEmpty());
        QCOMPARE(manager.popupStayTime(), 2000);
        manager.setForceNotice(config(R"({"stayTime": 1})"));
        QCOMPARE(manager.popupStayTime(), 10000);
    }

    // Seconds from the server become milliseconds: capped at one day, so they cannot overflow.
    void stayTimes()
    {
        const std::pair<double, int> cases[] = {{1, 10000},          {2, 2000},
                                                {86400, 86400000},   {2147484, 86400000},
                                                {INT_MAX, 86400000}, {-3, 10000}};
        for (const auto &[seconds, ms] : cases) {
            NotifyManager manager;
            manager.setForceNotice(QJsonObject{{"stayTime", seconds}});
            QCOMPARE(manager.popupStayTime(), ms);
        }
    }

    void threePopupsAtMost()
    {
        NotifyManager manager;
        for (int i = 0; i < 3; ++i)
            manager.addNotice(NoticeItem());
        const QList<NotifyWindow *> shown = manager.popups();
        verifySlots(&manager);

        // A fourth: the oldest goes at once, unfaded; the others glide up.
        QPointer<NotifyWindow> oldest = shown.at(0);
        manager.addNotice(NoticeItem());
        QVERIFY(oldest.isNull());
        QList<NotifyWindow *> now = manager.popups();
        QCOMPARE(now, (QList<NotifyWindow *>{shown.at(1), shown.at(2), now.at(2)}));
        QCOMPARE(now.at(2)->pos(), NotifyManager::popupPosition(2)); // shown in place
        QCOMPARE(glidesRunning(&manager), 2);
        verifySlots(&manager);

        // One fades out: the ones below glide up, nothing new shows.
        QPointer<NotifyWindow> first = now.at(0);
        QSignalSpy gone(first.data(), &NotifyWindow::disappear);
        first->fadeOut();
        QVERIFY(gone.wait());
        QCOMPARE(manager.popups(), (QList<NotifyWindow *>{now.at(1), now.at(2)}));
        QCOMPARE(glidesRunning(&manager), 2);
        QTRY_VERIFY(first.isNull());
        verifySlots(&manager);
        QCOMPARE(popupsAlive(), 2);
    }

    // Whichever popup answers, the answer comes out of the manager.
    void answersAreRelayed()
    {
        NotifyManager manager;
        QStringList answers;
        connect(&manager, &NotifyManager::detailRequested, this,
                [&answers](const QString &json) { answers << "detail:" + json; });
        connect(&manager, &NotifyManager::readAcknowledged, this,
                [&answers](const QString &id) { answers << "read:" + id; });
        connect(&manager, &NotifyManager::scheduleAnswered, this,
                [&answers](const QString &id, bool accept, const QString &json) {
                    answers << (accept ? "accept:" : "reject:") + id + ' ' + json;
                });
        for (int type : {0, 1, 2}) {
            NoticeItem item;
            item.targetType = type;
            item.busicId = QString("B%1").arg(type);
            item.noticeJson = QString("J%1").arg(type);
            item.notifyId = QString("N%1").arg(type);
            manager.addNotice(item);
        }
        const QList<NotifyWindow *> popups = manager.popups();
        QCOMPARE(popups.size(), 3);
        const char *const buttons[] = {"notifyBtnViewDetail", "notifyBtnKnown", "notifyBtnReject"};
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(popups.at(i)->findChild<QPushButton *>(buttons[i]), Qt::LeftButton);
        QCOMPARE(answers, (QStringList{"detail:J0", "read:N1", "reject:B2 J2"}));
    }
};

NORVA_TEST_MAIN(TestNotifyManager)
#include "tst_notifymanager.moc"
