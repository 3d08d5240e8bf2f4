#include "notify/notifymanager.h"
#include "notify/notifywindow.h"
#include "tests/support/testsupport.h"

#include <QGuiApplication>
#include <QJsonDocument>
#include <QPropertyAnimation>
#include <QScreen>

class TestNotifyManager : public QObject
{
    Q_OBJECT

    static QJsonObject config(const char *json) { return QJsonDocument::fromJson(json).object(); }
    static NoticeItem notice(int targetType)
    {
        NoticeItem item;
        item.targetType = targetType;
        return item;
    }
    static int glidesRunning(NotifyManager *manager)
    {
        int count = 0;
        for (QPropertyAnimation *a : manager->findChildren<QPropertyAnimation *>())
            count += a->propertyName() == "pos" && a->state() == QAbstractAnimation::Running;
        return count;
    }
    static int popupsAlive()
    {
        int count = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            count += qobject_cast<NotifyWindow *>(w) != nullptr;
        return count;
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
        QVERIFY(!manager.isForceNotice(target, 6, QStringLiteral("invite"))); // no configuration
        manager.setForceNotice(nullptr, config(R"({"status": 1, "busicTypes": [2, 6, 3],
            "noticeInfo": [
                {"targetType": 2, "busicType": 6, "key": ["invite", "", 5]},
                {"targetType": 1, "busicType": 6, "key": ["ab"]},
                {"targetType": 2, "busicType": 6, "key": ["a"]},
                {"targetType": 0, "busicType": 2, "key": ["*"]},
                {"targetType": 0, "busicType": 3, "key": ["*"]},
                {"targetType": -1, "busicType": 6, "key": ["x"]},
                {"targetType": 1, "busicType": -1, "key": ["z"]},
                {"targetType": "bad", "busicType": 6, "key": ["m*"]}]})"));
        QCOMPARE(target, 9);

        const std::tuple<int, const char *, bool, int> cases[] = {
            {6, "invited", true, 2},  {6, "invitation", false, 0}, // "invite" is no prefix of it
            {6, "abc", true, 2},                                   // "6-a" sorts before "6-ab"
            {2, "anything", true, 0},                     // a lone star takes the whole business
            {3, "task", false, 0},                        // listed, but only 2 and 6 may pass
            {6, "x", false, 0},       {6, "z", false, 0}, // disabled rules
            {6, "mine", true, 0},                         // a malformed target type reads as 0
            {6, "other", false, 0}, // the empty and non-string keys were skipped
        };
        for (const auto &[busic, type, popup, expectedTarget] : cases) {
            target = -7;
            QCOMPARE(manager.isForceNotice(target, busic, QLatin1String(type)), popup);
            if (popup)
                QCOMPARE(target, expectedTarget);
        }

        // A new configuration starts from scratch even without the keys.
        manager.setForceNotice(nullptr, config(R"({"status": 1})"));
        QVERIFY(!manager.isForceNotice(target, 6, QStringLiteral("invite")));
        QVERIFY(manager.rules().isEmpty() && manager.allowedBusicTypes().isEmpty());
    }

    void stayTimeFromConfiguration()
    {
        NotifyManager manager;
        QCOMPARE(manager.popupStayTime(), 10000);
        manager.setForceNotice(nullptr, config(R"({"stayTime": 2})"));
        QCOMPARE(manager.popupStayTime(), 2000);
        manager.setForceNotice(nullptr, config(R"({"status": 1})"));
        QCOMPARE(manager.popupStayTime(), 2000);
        manager.setForceNotice(nullptr, config(R"({"stayTime": 1})"));
        QCOMPARE(manager.popupStayTime(), 10000);

        // The configured time is what a popup really stays.
        manager.setForceNotice(nullptr, config(R"({"stayTime": 2})"));
        manager.addNotice(notice(-1)); // a negative type never shows
        QVERIFY(manager.popups().isEmpty());
        manager.addNotice(notice(0));
        QPointer<NotifyWindow> popup = manager.popups().value(0);
        QVERIFY(popup);
        QTRY_VERIFY_WITH_TIMEOUT(popup.isNull(), 15000);
        QVERIFY(manager.popups().isEmpty());
    }

    void threePopupsAtMost()
    {
        NotifyManager manager;
        for (int i = 0; i < 3; ++i)
            manager.addNotice(notice(0));
        const QList<NotifyWindow *> shown = manager.popups();
        verifySlots(&manager);

        // A fourth one: the oldest goes at once, without fading; the others glide up.
        QPointer<NotifyWindow> oldest = shown.at(0);
        manager.addNotice(notice(1));
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

        // Popups deleted while their glides run leave neither strays nor leaked animations.
        for (int i = 0; i < 4; ++i)
            manager.addNotice(notice(2));
        QCOMPARE(popupsAlive(), 3);
        verifySlots(&manager);
    }
};

NORVA_TEST_MAIN(TestNotifyManager)
#include "tst_notifymanager.moc"
