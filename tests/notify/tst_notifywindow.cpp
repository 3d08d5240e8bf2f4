#include "notify/notifywindow.h"
#include "tests/support/testsupport.h"

#include <QLabel>
#include <QPushButton>

class TestNotifyWindow : public QObject
{
    Q_OBJECT
    QStringList answers; // what the popups reported, in emission order
    QList<QPointer<NotifyWindow>> made;

    NotifyWindow *popup(int type)
    {
        auto *p = new NotifyWindow(600000, type);
        p->setTitle("「周会」开始");
        p->setBusicId("B-17");
        p->setNoticeJson("{\"id\":1}");
        p->setNotifyId("N-42");
        p->setFixedSize(344, 174);
        connect(p, &NotifyWindow::detailRequested, this,
                [this](const QString &json) { answers << "detail:" + json; });
        connect(p, &NotifyWindow::readAcknowledged, this,
                [this](const QString &id) { answers << "read:" + id; });
        connect(p, &NotifyWindow::scheduleAnswered, this,
                [this](const QString &id, bool accept, const QString &json) {
                    answers << (accept ? "accept:" : "reject:") + id + ' ' + json;
                });
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
    void initTestCase() { NotifyWindow::initTypeNames(); }
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
        // type, button, what the popup reports
        const std::tuple<int, const char *, const char *> cases[] = {
            {0, "notifyBtnViewDetail", "detail:{\"id\":1}"},
            {1, "notifyBtnKnown", "read:N-42"},
            {7, "notifyBtnKnown", "read:N-42"}, // an unknown kind still acknowledges
            {2, "notifyBtnKnown", "accept:B-17 {\"id\":1}"},
            {2, "notifyBtnReject", "reject:B-17 {\"id\":1}"},
        };
        for (const auto &[type, button, expected] : cases) {
            answers.clear();
            NotifyWindow *p = popup(type);
            p->showNotify();
            QTRY_VERIFY(timer(p)->isActive());
            QSignalSpy gone(p, &NotifyWindow::disappear);
            QTest::mouseClick(p->findChild<QPushButton *>(button), Qt::LeftButton);
            QCOMPARE(answers, QStringList{expected});
            QVERIFY(gone.wait());
        }
    }

    // A click during the fade-in fades out at once, the stay timer never armed; it disappears once.
    void clickDuringFadeIn()
    {
        NotifyWindow *p = popup(0);
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
