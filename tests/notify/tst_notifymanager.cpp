#include "notify/notifymanager.h"
#include "notify/notifywindow.h"
#include "tests/support/testsupport.h"

#include <QAccessible>
#include <QJsonDocument>
#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>

#include <climits>

// The notice popups and the manager that decides, queues and stacks them. What the buttons
// answer reaches the page: tst_browser.
class TestNotifyManager : public QObject
{
    Q_OBJECT

    static QJsonObject config(const char *json) { return QJsonDocument::fromJson(json).object(); }
    static int animations(QObject *owner, const char *property, double towards = -1)
    {
        int count = 0;
        for (QPropertyAnimation *a : owner->findChildren<QPropertyAnimation *>())
            count += a->propertyName() == property && a->state() == QAbstractAnimation::Running &&
                     (towards < 0 || a->endValue() == towards);
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
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QList<NotifyWindow *> popups = manager->popups();
        for (int i = 0; i < popups.size(); ++i)
            QTRY_COMPARE(popups.at(i)->pos(),
                         QPoint(screen.right() - 364, screen.top() + 40 + i * 194));
        QTRY_VERIFY(manager->findChildren<QPropertyAnimation *>().isEmpty());
    }
    static QLabel *label(QWidget *p, const char *name) { return p->findChild<QLabel *>(name); }
    static QTimer *stayTimer(QWidget *p)
    {
        return p->findChild<QTimer *>({}, Qt::FindDirectChildrenOnly);
    }

private slots:
    void initTestCase() { NotifyWindow::initTypeNames(); }
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
        // Seconds become milliseconds, capped at one day so that they cannot overflow; too
        // short a time goes back to ten seconds.
        const std::pair<double, int> stays[] = {{1, 10000},          {2, 2000},
                                                {86400, 86400000},   {2147484, 86400000},
                                                {INT_MAX, 86400000}, {-3, 10000}};
        for (const auto &[seconds, ms] : stays) {
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
        QCOMPARE(animations(&manager, "pos"), 2);
        verifySlots(&manager);

        // One fades out: the ones below glide up, nothing new shows.
        QPointer<NotifyWindow> first = now.at(0);
        QSignalSpy gone(first.data(), &NotifyWindow::disappear);
        first->fadeOut();
        QVERIFY(gone.wait());
        QCOMPARE(manager.popups(), (QList<NotifyWindow *>{now.at(1), now.at(2)}));
        QCOMPARE(animations(&manager, "pos"), 2);
        QTRY_VERIFY(first.isNull());
        verifySlots(&manager);
        QCOMPARE(popupsAlive(), 2);
        // No screen (none attached, a monitor change): the top right of a nominal desktop.
        QCOMPARE(NotifyManager::popupPosition(1, nullptr), QPoint(1279 - 364, 40 + 194));
    }

    // Every answer reaches the relay with its notice's source (null once that is gone). An
    // invitation nobody received stays open; the other answers close the popup either way.
    void answersGoToTheRelay()
    {
        NotifyManager manager;
        auto source = std::make_unique<QObject>();
        QList<NoticeAnswer> seen;
        bool delivered = true;
        manager.setAnswerRelay([&](const NoticeAnswer &answer) {
            seen << answer;
            return delivered;
        });
        using K = NoticeAnswer::Kind;
        // type, button, what the relay answers, the kind it is given, whether the popup closes;
        // in the last the source has gone by the time of the click.
        const std::tuple<int, const char *, bool, K, bool> cases[] = {
            {1, "notifyBtnKnown", false, K::Read, true},
            {7, "notifyBtnKnown", true, K::Read, true}, // an unknown kind still acknowledges
            {0, "notifyBtnViewDetail", false, K::Detail, true},
            {2, "notifyBtnKnown", true, K::Accept, true},
            {2, "notifyBtnReject", true, K::Reject, true},
            {2, "notifyBtnKnown", false, K::Accept, false},
            {2, "notifyBtnReject", false, K::Reject, false},
            {1, "notifyBtnKnown", true, K::Read, true}};
        int row = 0;
        for (const auto &[type, button, relayed, kind, closes] : cases) {
            NoticeItem item;
            item.targetType = type;
            item.busicId = "B";
            item.notifyId = "N";
            item.noticeJson = "J";
            item.source = source.get();
            manager.addNotice(item);
            QPointer<NotifyWindow> popup = manager.popups().last();
            delivered = relayed;
            seen.clear();
            if (++row == int(std::size(cases)))
                source.reset();
            QTest::mouseClick(popup->findChild<QPushButton *>(button), Qt::LeftButton);
            QCOMPARE(seen.size(), 1);
            QCOMPARE(seen[0].kind, kind);
            QCOMPARE(seen[0].source.data(), source.get());
            QCOMPARE(seen[0].busicId + seen[0].notifyId + seen[0].noticeJson, QString("BNJ"));
            QCOMPARE(animations(popup, "windowOpacity", 0.0), closes ? 1 : 0);
            QVERIFY(popup->isVisible());
            if (!closes)
                popup->fadeOut();
            QTRY_VERIFY(popup.isNull());
        }
        QVERIFY(!source);
    }

    void titles()
    {
        QCOMPARE(NotifyWindow::composeTitle(1, "「周会」开始", "c"), QString("「周会」提醒你 c"));
        QCOMPARE(NotifyWindow::composeTitle(1, "周会开始", "请准时"), QString("提醒你 请准时"));
        QCOMPARE(NotifyWindow::composeTitle(2, "周会", "请准时"), QString("周会 请准时"));
        // No caption for an unknown kind; no start time, no time line.
        QScopedPointer<NotifyWindow> unknown(new NotifyWindow(600000, 3));
        QScopedPointer<NotifyWindow> noTime(new NotifyWindow(600000, 1));
        for (NotifyWindow *p : {unknown.data(), noTime.data()}) {
            p->setTitle("「周会」开始");
            p->showNotify();
        }
        QCOMPARE(label(unknown.data(), "notifyType")->text(), QString());
        QCOMPARE(label(noTime.data(), "notifyTime")->text(), QString());
        // Too wide: the first line gives up the ellipsis and two characters, the second is elided.
        QScopedPointer<NotifyWindow> p(new NotifyWindow(600000, 2));
        p->setFixedSize(344, 174);
        const QString longTitle(150, QLatin1Char('W')); // wide in any font
        p->setTitle(longTitle);
        p->showNotify();
        QFont font = label(p.data(), "notifyTitle")->font();
        font.setPixelSize(14);
        const QFontMetrics fm(font);
        const QStringList lines = label(p.data(), "notifyTitle")->text().split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0).size(), fm.elidedText(longTitle, Qt::ElideRight, 308).size() - 3);
        QVERIFY(lines.at(1).endsWith(QChar(0x2026)));
        QVERIFY(fm.horizontalAdvance(lines.at(1)) <= 308 - 14);
    }

    static NoticeItem invitation()
    {
        NoticeItem invite;
        invite.targetType = 2;
        invite.title = "周会";
        invite.content = "请准时";
        invite.endTime = "10:00-11:00";
        invite.busicId = "b7";
        return invite;
    }

    // A screen reader hears a popup as it appears: the alert event (Windows) and the alert
    // that shows (AT-SPI), with the caption, title and content line. Qt passes events on only
    // while accessibility is on, which on Linux takes a session bus: ctest runs this once more
    // as tst_notifymanager_a11y under dbus-run-session.
    void popupIsAnnounced()
    {
        if (!QTest::qWaitFor([] { return QAccessible::isActive(); }, 5000))
            QSKIP("accessibility is off: needs QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 and a bus");
        static QList<QPair<QObject *, QAccessible::Event>> events;
        events.clear();
        QAccessible::installUpdateHandler([](QAccessibleEvent *e) {
            events.append({e->object(), e->type()});
        });
        auto restore = qScopeGuard([] { QAccessible::installUpdateHandler(nullptr); });

        NotifyManager manager;
        manager.addNotice(invitation());
        NotifyWindow *popup = manager.popups().last();
        QVERIFY(events.contains({popup, QAccessible::Alert}));
        QVERIFY(events.contains({popup, QAccessible::ObjectShow}));
        popup->fadeOut();
        QTRY_VERIFY(manager.popups().isEmpty());
    }

    // The popup is named for a screen reader; the keyboard reaches the newest one's buttons,
    // Tab and Enter answer, Escape closes, and it stays while the user works in it.
    void keyboardReachesPopups()
    {
        NotifyManager manager;
        QVERIFY(!manager.focusNewestPopup());
        manager.setForceNotice(config(R"({"status": 1, "stayTime": 60})"));
        manager.addNotice(NoticeItem());
        manager.addNotice(invitation());
        NotifyWindow *popup = manager.popups().last();
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(popup);
        QCOMPARE(iface->role(), QAccessible::AlertMessage);
        QCOMPARE(iface->text(QAccessible::Name), QString("日程邀请: 周会 请准时"));
        QCOMPARE(iface->text(QAccessible::Description), QString("10:00-11:00"));
        QCOMPARE(NorvaTest::accessibilityProblems(popup), QStringList());

        QVERIFY(manager.focusNewestPopup());
        QTRY_VERIFY(popup->isActiveWindow());
        QCOMPARE(popup->focusWidget()->objectName(), QString("notifyBtnViewDetail"));
        // Both faded in: the other one's stay runs, this one waits for the user.
        QTRY_VERIFY(stayTimer(manager.popups().first())->isActive());
        QTRY_COMPARE(animations(popup, "windowOpacity", 1.0), 0);
        QVERIFY(!stayTimer(popup)->isActive());
        QList<NoticeAnswer> answered;
        manager.setAnswerRelay([&](const NoticeAnswer &answer) {
            answered << answer;
            return true;
        });
        QTest::keyClick(popup, Qt::Key_Tab);
        QCOMPARE(popup->focusWidget()->objectName(), QString("notifyBtnReject"));
        QTest::keyClick(popup->focusWidget(), Qt::Key_Return);
        QCOMPARE(answered.size(), 1);
        QCOMPARE(answered.first().busicId, QString("b7"));
        QCOMPARE(answered.first().kind, NoticeAnswer::Reject);
        QTRY_COMPARE(manager.popups().size(), 1);

        QPointer<NotifyWindow> other = manager.popups().first();
        QSignalSpy gone(other.data(), &NotifyWindow::disappear);
        QVERIFY(manager.focusNewestPopup());
        QTRY_VERIFY(other->isActiveWindow());
        QTest::keyClick(other, Qt::Key_Escape);
        QVERIFY(gone.wait());
    }

    // After the fade-in the stay timer runs. A click during the fade-in fades out at once, the
    // stay timer never armed; it disappears once.
    void fades()
    {
        QScopedPointer<NotifyWindow> staying(new NotifyWindow(600000, 7));
        staying->showNotify();
        QTRY_VERIFY(stayTimer(staying.data())->isActive());

        QScopedPointer<NotifyWindow> p(new NotifyWindow(600000, 0));
        p->showNotify();
        QCOMPARE(animations(p.data(), "windowOpacity", 1.0), 1);
        QSignalSpy gone(p.data(), &NotifyWindow::disappear);
        QTest::mouseClick(p->findChild<QPushButton *>("notifyBtnKnown"), Qt::LeftButton);
        QCOMPARE(animations(p.data(), "windowOpacity", 1.0), 0); // no longer pulls the other way
        QCOMPARE(animations(p.data(), "windowOpacity", 0.0), 1);
        QVERIFY(gone.wait());
        QVERIFY(!stayTimer(p.data())->isActive());
        QTRY_COMPARE(animations(p.data(), "windowOpacity", 0.0), 0);
        p->fadeOut();
        QCOMPARE(animations(p.data(), "windowOpacity", 0.0), 0);
        QCOMPARE(gone.count(), 1);
    }
};

NORVA_TEST_MAIN(TestNotifyManager)
#include "tst_notifymanager.moc"
