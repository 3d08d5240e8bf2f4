// Notice-to-popup benchmark, in process.
//
//   bench_notice [notices]       (default 100; needs a display with a tray host)
//
// Latency: from the bridge call (the page's sendMsgFromHtml on the published object) to the
// popup's first exposure, one notice at a time; in alternating rounds the reference is a bare
// top-level widget with the popup's window flags, from show() to its first exposure.
// Load: 100 notices in one second; at most three popups at any time, in arrival order, and
// once they have all gone no widget and no animation is left behind.
//
// Prints one line per figure: NOTICE_MEDIAN_MS (NOTICE_IN_CALL_MEDIAN_MS of it inside the call),
// BARE_MEDIAN_MS, LOAD_MAX_POPUPS, LOAD_ORDER_OK,
// LOAD_LEAKED_WIDGETS, LOAD_LEAKED_ANIMATIONS.
#include "app/browser.h"
#include "bridge/jschannel.h"
#include "mainwindow/mainwindow.h"
#include "notify/notifymanager.h"
#include "notify/notifywindow.h"
#include "store/appsettings.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/webview.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPropertyAnimation>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>

namespace {

QElapsedTimer clock_;

// Records the first exposure of the window it is told to watch, and ends the wait for it.
class ExposeWatch : public QObject
{
public:
    QWindow *watched = nullptr;
    qint64 exposedAt = -1;
    QEventLoop *waiting = nullptr;

    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && object == watched && exposedAt < 0 &&
            !static_cast<QExposeEvent *>(event)->region().isEmpty()) {
            exposedAt = clock_.nsecsElapsed();
            if (waiting)
                waiting->quit();
        }
        return false;
    }
};

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// An event loop, not a polling wait: a poll that sleeps between rounds would add its own
// sleep to the latency measured.
bool waitExposed(ExposeWatch &watch, int timeoutMs = 5000)
{
    if (watch.exposedAt < 0) {
        QEventLoop loop;
        watch.waiting = &loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        watch.waiting = nullptr;
    }
    return watch.exposedAt >= 0;
}

double median(QVector<double> v)
{
    if (v.isEmpty())
        return -1;
    std::sort(v.begin(), v.end());
    const int n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double percentile(QVector<double> v, double p)
{
    if (v.isEmpty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[qBound(0, int(p * (v.size() - 1) + 0.5), v.size() - 1)];
}

QString notice(int seq)
{
    // Alternates task reminders and schedule invitations, the two popup layouts with buttons.
    const bool invite = seq % 2;
    QJsonObject extras{{"busicType", invite ? 6 : 2},
                       {"busicId", QStringLiteral("b%1").arg(seq)},
                       {"startTime", QStringLiteral("15分钟")},
                       {"endTime", QStringLiteral("明天 10:00")},
                       {"notifyId", QStringLiteral("n%1").arg(seq)}};
    QJsonObject message{{"title", QStringLiteral("#%1 季度目标复盘会议").arg(seq)},
                        {"content", QStringLiteral("请在会议前更新你负责的关键结果进度")},
                        {"type", invite ? QStringLiteral("invite") : QStringLiteral("task")},
                        {"extras", extras}};
    return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

// The load phase tags each popup with its notice's number right after the call.
int seqOf(const NotifyWindow *popup)
{
    return popup->property("benchSeq").toInt();
}

QJsonObject rules(int staySeconds)
{
    return QJsonObject{
        {"status", 1},
        {"stayTime", staySeconds},
        {"busicTypes", QJsonArray{2, 6}},
        {"noticeInfo",
         QJsonArray{QJsonObject{{"targetType", 0}, {"busicType", 2}, {"key", QJsonArray{"*"}}},
                    QJsonObject{{"targetType", 2}, {"busicType", 6}, {"key", QJsonArray{"*"}}}}}};
}

int countAnimations(const QObject *owner)
{
    return owner->findChildren<QPropertyAnimation *>().size();
}

} // namespace

int main(int argc, char *argv[])
{
    NorvaTest::prepareEnvironment();
    QApplication app(argc, argv);
    NorvaTest::afterApplication();
    // The bridge answers only a page of the service, so one is served and loaded first.
    TestHttpServer service;
    if (!service.listen()) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        return 1;
    }
    service.setHtml(QStringLiteral("/"), QStringLiteral("<!doctype html><title>bench</title>"));
    qputenv("NORVA_SERVICE_URL", service.url().toString().toUtf8());
    const int count = argc > 1 ? qMax(1, QString::fromLocal8Bit(argv[1]).toInt()) : 100;

    Browser browser;
    MainWindow *window = browser.createWindow(0, false);
    mainWindow = window;
    if (!window->trayIcon()) {
        std::fprintf(stderr, "no system tray: run under a tray host (scripts/headless.sh)\n");
        return 1;
    }
    JsChannel *channel = window->jsChannel();
    bool loaded = false;
    QObject::connect(window->currentView(), &QWebEngineView::loadFinished, window,
                     [&](bool ok) { loaded = ok; });
    window->loadUrl(service.url());
    if (!NorvaTest::waitFor([&] { return loaded; }, 30000)) {
        std::fprintf(stderr, "the service page did not load\n");
        return 1;
    }
    NotifyManager *manager = browser.notifyManager();
    browser.setForceNotice(rules(60));
    clock_.start();

    ExposeWatch watch;
    app.installEventFilter(&watch);

    double callMs = 0; // the part spent inside the bridge call itself
    auto sendAndWait = [&](int seq) -> double {
        watch.exposedAt = -1;
        const qint64 t0 = clock_.nsecsElapsed();
        channel->sendMsgFromHtml(notice(seq));
        callMs = (clock_.nsecsElapsed() - t0) / 1e6;
        const QList<NotifyWindow *> popups = manager->popups();
        if (popups.isEmpty())
            return -1;
        watch.watched = popups.last()->windowHandle();
        if (!waitExposed(watch))
            return -1;
        return (watch.exposedAt - t0) / 1e6;
    };
    auto bareAndWait = [&]() -> double {
        watch.exposedAt = -1;
        const qint64 t0 = clock_.nsecsElapsed();
        auto *bare = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint |
                                              Qt::WindowSystemMenuHint | Qt::WindowStaysOnTopHint);
        bare->setAttribute(Qt::WA_NoSystemBackground);
        bare->setAttribute(Qt::WA_TranslucentBackground);
        bare->setFixedSize(344, 174);
        bare->move(NotifyManager::popupPosition(3));
        bare->show();
        watch.watched = bare->windowHandle();
        const bool ok = waitExposed(watch);
        const double ms = ok ? (watch.exposedAt - t0) / 1e6 : -1;
        delete bare;
        return ms;
    };

    // Latency, alternating with the reference; the first three rounds warm up.
    QVector<double> popupMs, bareMs, inCallMs;
    int failures = 0;
    for (int i = -3; i < count; ++i) {
        const double b = bareAndWait();
        spin(30);
        const double p = sendAndWait(i + 3);
        spin(30);
        if (p < 0 || b < 0) {
            ++failures;
            continue;
        }
        if (i >= 0) {
            popupMs << p;
            bareMs << b;
            inCallMs << callMs;
        }
    }
    std::printf("NOTICE_MEDIAN_MS %.2f\nNOTICE_P90_MS %.2f\nNOTICE_IN_CALL_MEDIAN_MS %.2f\n"
                "BARE_MEDIAN_MS %.2f\nBARE_P90_MS %.2f\nLATENCY_FAILURES %d\n",
                median(popupMs), percentile(popupMs, 0.9), median(inCallMs), median(bareMs),
                percentile(bareMs, 0.9), failures);
    std::fflush(stdout);

    // Let every popup of the latency phase go before the load phase counts anything.
    browser.setForceNotice(rules(2));
    for (NotifyWindow *popup : manager->popups())
        popup->fadeOut();
    NorvaTest::waitFor([&] { return manager->popups().isEmpty(); }, 10000);
    spin(500);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int widgetsBefore = QApplication::allWidgets().size();

    // Load: 100 notices in one second, watched at every step.
    int maxPopups = 0;
    bool orderOk = true;
    auto check = [&] {
        const QList<NotifyWindow *> popups = manager->popups();
        int visible = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<NotifyWindow *>(w) && w->isVisible())
                ++visible;
        maxPopups = qMax(maxPopups, qMax(visible, popups.size()));
        for (int i = 1; i < popups.size(); ++i)
            if (seqOf(popups.at(i - 1)) >= seqOf(popups.at(i)))
                orderOk = false;
    };
    QTimer monitor;
    QObject::connect(&monitor, &QTimer::timeout, check);
    monitor.start(2);
    const int loadCount = 100;
    int sent = 0;
    QElapsedTimer loadClock;
    QTimer feeder;
    // Keeps to the schedule (one every 10 ms) even when a popup takes longer than that to build.
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        const int due = qMin(loadCount, int(loadClock.elapsed() * loadCount / 1000) + 1);
        while (sent < due) {
            channel->sendMsgFromHtml(notice(sent));
            if (!manager->popups().isEmpty())
                manager->popups().last()->setProperty("benchSeq", sent);
            ++sent;
            check();
        }
        if (sent == loadCount)
            feeder.stop();
    });
    loadClock.start();
    feeder.start(1000 / loadCount);
    NorvaTest::waitFor([&] { return sent == loadCount; }, 20000);
    const qint64 loadMs = loadClock.elapsed();
    spin(400); // the last glides
    QList<int> last;
    bool slotsOk = true;
    const QList<NotifyWindow *> finalPopups = manager->popups();
    for (int i = 0; i < finalPopups.size(); ++i) {
        last << seqOf(finalPopups.at(i));
        slotsOk = slotsOk && finalPopups.at(i)->pos() == NotifyManager::popupPosition(i);
    }
    orderOk = orderOk && slotsOk && last == QList<int>{loadCount - 3, loadCount - 2, loadCount - 1};
    NorvaTest::waitFor([&] { return manager->popups().isEmpty(); }, 15000);
    spin(800); // the glides that the last fade-outs started
    monitor.stop();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int leakedWidgets = QApplication::allWidgets().size() - widgetsBefore;
    const int leakedAnimations = countAnimations(manager);

    std::printf("LOAD_SENT %d in %lld ms\nLOAD_MAX_POPUPS %d\nLOAD_LAST %d %d %d\n"
                "LOAD_ORDER_OK %d\nLOAD_LEAKED_WIDGETS %d\nLOAD_LEAKED_ANIMATIONS %d\n",
                sent, loadMs, maxPopups, last.value(0, -1), last.value(1, -1), last.value(2, -1),
                orderOk ? 1 : 0, leakedWidgets, leakedAnimations);
    mainWindow = nullptr;
    delete window;
    return failures ? 1 : 0;
}
