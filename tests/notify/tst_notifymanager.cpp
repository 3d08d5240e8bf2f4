#include "notify/notifymanager.h"
#include "notify/notifywindow.h"
#include "tests/support/testsupport.h"

#include <QGuiApplication>
#include <QJsonDocument>
#include <QPropertyAnimation>
#include <QScreen>

namespace {

QJsonObject config(const char *json)
{
    return QJsonDocument::fromJson(json).object();
}

NoticeItem notice(int targetType)
{
    NoticeItem item;
    item.targetType = targetType;
    item.title = QStringLiteral("标题");
    item.content = QStringLiteral("内容");
    return item;
}

int glidesRunning(NotifyManager *manager)
{
    int count = 0;
    for (QPropertyAnimation *a : manager->findChildren<QPropertyAnimation *>())
        count += a->propertyName() == "pos" && a->state() == QAbstractAnimation::Running;
    return count;
}

int popupsAlive()
{
    int count = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        count += qobject_cast<NotifyWindow *>(w) != nullptr;
    return count;
}

void verifySlots(const QList<NotifyWindow *> &popups)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    for (int i = 0; i < popups.size(); ++i)
        QTRY_COMPARE(popups.at(i)->pos(),
                     QPoint(screen.right() - 364, screen.top() + 40 + i * 194));
}

} // namespace

class TestNotifyManager : public QObject
{
    Q_OBJECT

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
                {"busicType": 6, "key": ["y"]},
                {"targetType": 1, "busicType": -1, "key": ["z"]},
                {"targetType": "bad", "busicType": 6, "key": ["m*"]}]})"));
        QCOMPARE(target, 9);

        struct Case
        {
            int busic;
            const char *type;
            bool popup;
            int target;
        };
        const Case cases[] = {
            {6, "invite", true, 2},
            {6, "invited", true, 2},
            {6, "invitation", false, 0}, // "invite" is no prefix of it
            {6, "Invite", false, 0},     // case-sensitive
            {6, "abc", true, 2},         // "6-a" sorts before "6-ab"
            {2, "", true, 0},
            {2, "anything", true, 0}, // a lone star takes the whole business
            {3, "task", false, 0},    // listed, but only 2 and 6 may pass
            {6, "x", false, 0},
            {6, "y", false, 0},
            {6, "z", false, 0},     // disabled rules
            {6, "mine", true, 0},   // a malformed target type reads as 0
            {6, "other", false, 0}, // the empty and non-string keys were skipped
        };
        for (const Case &c : cases) {
            target = -7;
            QCOMPARE(manager.isForceNotice(target, c.busic, QLatin1String(c.type)), c.popup);
            if (c.popup)
                QCOMPARE(target, c.target);
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
        QCOMPARE(manager.popups().size(), 1);
        QPointer<NotifyWindow> popup = manager.popups().first();
        QCOMPARE(popup->size(), QSize(344, 174));
        verifySlots(manager.popups());
        QTRY_VERIFY_WITH_TIMEOUT(popup.isNull(), 15000);
        QVERIFY(manager.popups().isEmpty());
    }

    void fourthPopupReplacesTheOldest()
    {
        NotifyManager manager;
        for (int i = 0; i < 3; ++i)
            manager.addNotice(notice(0));
        const QList<NotifyWindow *> shown = manager.popups();
        verifySlots(shown);
        QPointer<NotifyWindow> oldest = shown.at(0);

        manager.addNotice(notice(1));
        QVERIFY(oldest.isNull()); // at once, without fading
        const QList<NotifyWindow *> now = manager.popups();
        QCOMPARE(now, (QList<NotifyWindow *>{shown.at(1), shown.at(2), now.at(2)}));
        QCOMPARE(now.at(2)->popupType(), 1);
        QCOMPARE(now.at(2)->pos(), NotifyManager::popupPosition(2)); // shown in place
        QCOMPARE(glidesRunning(&manager), 2);                        // the others glide up
        verifySlots(now);
        QTRY_VERIFY(manager.findChildren<QPropertyAnimation *>().isEmpty());

        // Popups deleted while their glides run leave neither strays nor leaked animations.
        for (int i = 0; i < 4; ++i)
            manager.addNotice(notice(2));
        QCOMPARE(popupsAlive(), 3);
        verifySlots(manager.popups());
        QTRY_VERIFY(manager.findChildren<QPropertyAnimation *>().isEmpty());
    }

    void fadingPopupLetsTheOthersGlideUp()
    {
        NotifyManager manager;
        for (int i = 0; i < 3; ++i)
            manager.addNotice(notice(0));
        const QList<NotifyWindow *> shown = manager.popups();
        QPointer<NotifyWindow> first = shown.at(0);
        QSignalSpy gone(first.data(), &NotifyWindow::disappear);

        first->fadeOut();
        QVERIFY(gone.wait());
        QCOMPARE(manager.popups(), (QList<NotifyWindow *>{shown.at(1), shown.at(2)}));
        QCOMPARE(glidesRunning(&manager), 2);
        QTRY_VERIFY(first.isNull());
        verifySlots(manager.popups());
        QTRY_VERIFY(manager.findChildren<QPropertyAnimation *>().isEmpty());
        QCOMPARE(popupsAlive(), 2); // no new popup

        manager.addNotice(notice(2)); // the freed slot is used again
        verifySlots(manager.popups());
        QCOMPARE(manager.popups().size(), 3);
    }
};

NORVA_TEST_MAIN(TestNotifyManager)
#include "tst_notifymanager.moc"
