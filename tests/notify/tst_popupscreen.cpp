// The popups as they come out on the screen. ctest runs this at the scale factors 1, 1.5 and 2
// (QT_SCALE_FACTOR), on Xvfb, which has no compositor: the shape mask cuts the corners.
#include "notify/notifymanager.h"
#include "notify/notifywindow.h"
#include "tests/support/testsupport.h"

#include <QImageReader>
#include <QLabel>
#include <QScreen>

class TestPopupScreen : public QObject
{
    Q_OBJECT

    static constexpr QRgb Backdrop = 0xffff00ff;
    static constexpr QRgb Panel = 0xffffffff;

    static QScreen *screen() { return QGuiApplication::primaryScreen(); }
    static qreal factor() { return screen()->devicePixelRatio(); }

private slots:
    void initTestCase()
    {
        NotifyWindow::initTypeNames();
        qInfo("scale factor %g, available area %dx%d", factor(),
              screen()->availableGeometry().width(), screen()->availableGeometry().height());
    }

    // Shape and border agree in device pixels: around every rounded corner what lies outside
    // the outline is the backdrop, what lies inside is the white panel, and in the band of a
    // pixel or so where the mask's steps meet the curve there is one or the other, never the
    // dark rim that a half-covered translucent pixel leaves without a compositor.
    void cornersOnScreen()
    {
        QVERIFY(NotifyWindow::needsShapeMask());
        const QRect area = screen()->availableGeometry();
        QWidget backdrop(nullptr, Qt::FramelessWindowHint);
        backdrop.setAutoFillBackground(true);
        QPalette palette = backdrop.palette();
        palette.setColor(QPalette::Window, QColor::fromRgb(Backdrop));
        backdrop.setPalette(palette);
        backdrop.setGeometry(area);
        backdrop.show();
        QVERIFY(QTest::qWaitForWindowExposed(&backdrop));

        NotifyWindow popup(600000, 0);
        popup.setFixedSize(344, 174);
        popup.move(area.center() - QPoint(172, 87));
        popup.showNotify();
        QVERIFY(QTest::qWaitForWindowExposed(&popup));

        const int margin = 8;
        const QRect around = popup.geometry().adjusted(-margin, -margin, margin, margin);
        QImage shot;
        // Until the popup has been drawn over the backdrop.
        QTRY_VERIFY_WITH_TIMEOUT(
            (shot = screen()
                        ->grabWindow(0, around.x(), around.y(), around.width(), around.height())
                        .toImage()
                        .convertToFormat(QImage::Format_RGB32),
             shot.pixel(shot.width() / 2, qRound(margin * factor()) + 2) == Panel),
            10000);

        const qreal f = factor();
        const QPointF origin(margin * f, margin * f); // the popup's corner in the shot
        const qreal w = 344 * f, h = 174 * f, r = NotifyWindow::CornerRadius * f;
        const qreal band = f + 0.5; // the mask follows the curve in whole logical pixels
        const QPointF centres[] = {{r, r}, {w - r, r}, {r, h - r}, {w - r, h - r}};
        int outside = 0, inside = 0;
        QStringList wrong;
        for (const QPointF &centre : centres) {
            const QPointF c = origin + centre;
            for (int y = int(c.y() - r - margin * f); y < int(c.y() + r + margin * f); ++y) {
                for (int x = int(c.x() - r - margin * f); x < int(c.x() + r + margin * f); ++x) {
                    // Only the quadrant that faces away from the panel's middle.
                    const QPointF p(x + 0.5, y + 0.5);
                    if ((centre.x() < w / 2) != (p.x() < c.x()) ||
                        (centre.y() < h / 2) != (p.y() < c.y()))
                        continue;
                    if (!shot.rect().contains(x, y))
                        continue;
                    const qreal d = std::hypot(p.x() - c.x(), p.y() - c.y());
                    const QRgb pixel = shot.pixel(x, y);
                    // Inside, only the rim: the caption starts a few pixels further in.
                    if (d < r - band - 3 * f)
                        continue;
                    const bool ok = d > r + band   ? pixel == Backdrop
                                    : d < r - band ? pixel == Panel
                                                   : pixel == Backdrop || pixel == Panel;
                    outside += d > r + band;
                    inside += d < r - band;
                    if (!ok && wrong.size() < 10)
                        wrong << QString::asprintf("(%d,%d) %.1f px off the curve: #%06x", x, y,
                                                   d - r, pixel & 0xffffff);
                }
            }
        }
        QVERIFY(outside > 100 && inside > 20); // the corners were looked at at all
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("; ")));
    }

    // Three popups stack inside the available area; where three do not fit, as many as fit
    // show and the rest wait for a slot.
    void stackingInsideTheScreen()
    {
        const QRect area = screen()->availableGeometry();
        NotifyManager manager;
        manager.setForceNotice(QJsonObject{{"status", 1}, {"stayTime", 60}});
        for (int i = 0; i < 3; ++i)
            manager.addNotice(NoticeItem());
        auto allInside = [&] {
            const QList<NotifyWindow *> shown = manager.popups();
            return std::all_of(shown.begin(), shown.end(),
                               [&](NotifyWindow *p) { return area.contains(p->geometry()); });
        };
        QCOMPARE(manager.popups().size() + manager.waitingCount(), 3);
        QVERIFY(allInside());
        const bool threeFit = area.height() >= 40 + 2 * 194 + 174;
        QCOMPARE(manager.waitingCount(), threeFit ? 0 : 1); // 1080 px at 2: 540, two fit

        QPointer<NotifyWindow> first = manager.popups().first();
        first->fadeOut();
        QTRY_VERIFY(first.isNull());
        QTRY_COMPARE(manager.waitingCount(), 0);
        QCOMPARE(manager.popups().size(), 2);
        QTRY_VERIFY(allInside());
        for (NotifyWindow *p : manager.popups())
            p->fadeOut();
        QTRY_VERIFY(manager.popups().isEmpty());
    }

    // Icons are drawn at the screen's density: the application icon from the size the icon
    // file holds for it, the popup's from its artwork at 14 logical pixels.
    void iconsAtScreenDensity()
    {
        QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
        const QIcon icon(QStringLiteral(":AppIcon.ico"));
        QVERIFY(icon.availableSizes().size() >= 5);
        const QPixmap small = icon.pixmap(QSize(16, 16));
        const int device = qRound(16 * factor());
        QCOMPARE(small.size(), QSize(device, device));
        // Not a small entry scaled up: the file's own entry of that size where it has one.
        QImageReader reader(QStringLiteral(":AppIcon.ico"));
        do {
            QImage entry = reader.read();
            entry.setDevicePixelRatio(small.devicePixelRatio());
            if (entry.size() == small.size())
                QCOMPARE(small.toImage().convertToFormat(QImage::Format_ARGB32),
                         entry.convertToFormat(QImage::Format_ARGB32));
        } while (reader.jumpToNextImage());

        NotifyWindow popup(600000, 1);
        const QPixmap shown = popup.icon()->pixmap(Qt::ReturnByValue);
        QCOMPARE(shown.devicePixelRatio(), popup.devicePixelRatioF());
        QCOMPARE(shown.size(), QSize(14, 14) * popup.devicePixelRatioF());
    }
};

NORVA_TEST_MAIN(TestPopupScreen)
#include "tst_popupscreen.moc"
