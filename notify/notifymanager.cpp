#include "notify/notifymanager.h"

#include "notify/notifywindow.h"

#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>

namespace {
const int PopupWidth = 344;
const int PopupHeight = 174;
const int GlideDuration = 300;
} // namespace

NotifyManager::NotifyManager(QObject *parent) : QObject(parent)
{
    NotifyWindow::initTypeNames();
}

NotifyManager::~NotifyManager()
{
    queue.clear();
    const QList<NotifyWindow *> popups = windows;
    windows.clear();
    qDeleteAll(popups);
}

void NotifyManager::setForceNotice(const QJsonObject &cfg)
{
    forceRules.configure(cfg);
}

bool NotifyManager::isForceNotice(int &targetType, int busicType, const QString &type) const
{
    return forceRules.matches(targetType, busicType, type);
}

void NotifyManager::addNotice(const NoticeItem &item)
{
    queue.append(item);
    showNext();
}

namespace {
// Without a screen (none attached, or a monitor change under way) a nominal desktop stands in.
QRect availableArea(const QScreen *screen)
{
    return screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
}
} // namespace

QPoint NotifyManager::popupPosition(int index)
{
    return popupPosition(index, QGuiApplication::primaryScreen());
}

QPoint NotifyManager::popupPosition(int index, const QScreen *primary)
{
    const QRect area = availableArea(primary);
    return QPoint(area.right() - 364, area.top() + 40 + index * 194);
}

int NotifyManager::slotsOnScreen()
{
    const QScreen *primary = QGuiApplication::primaryScreen();
    const QRect area = availableArea(primary);
    int count = 0;
    while (count < 3 && popupPosition(count, primary).y() + PopupHeight <= area.bottom() + 1)
        ++count;
    // Even a screen too small for one popup shows one rather than none.
    return qMax(1, count);
}

bool NotifyManager::focusNewestPopup()
{
    if (windows.isEmpty())
        return false;
    windows.last()->takeFocus();
    return true;
}

void NotifyManager::showNext()
{
    if (windows.size() > maxCount || queue.isEmpty())
        return;
    // Where fewer than three fit, the others wait for a slot instead of leaving the screen.
    const int room = slotsOnScreen();
    if (room < maxCount && windows.size() >= room)
        return;
    const NoticeItem item = queue.takeFirst();
    if (item.targetType < 0)
        return;

    if (windows.size() == maxCount) {
        // Make room at once; the popup's own animations and timers are its children and go
        // with it, and the glides that target it stop themselves.
        delete windows.takeFirst();
        relayout();
    }

    auto *popup = new NotifyWindow(forceRules.stayTimeMs(), item.targetType);
    popup->setTitle(item.title);
    popup->setContent(item.content);
    popup->setBusicId(item.busicId);
    popup->setStartTime(item.startTime);
    popup->setEndTime(item.endTime);
    popup->setNoticeJson(item.noticeJson);
    popup->setNotifyId(item.notifyId);
    popup->setSource(item.source);
    popup->setAnswerRelay(
        [this](const NoticeAnswer &answer) { return answerRelay && answerRelay(answer); });
    popup->setFixedSize(PopupWidth, PopupHeight);

    windows.append(popup);
    popup->move(popupPosition(windows.size() - 1));
    popup->showNotify();

    connect(popup, &NotifyWindow::disappear, this, [this, popup] { onPopupDisappeared(popup); });
}

void NotifyManager::relayout()
{
    for (int i = 0; i < windows.size(); ++i) {
        NotifyWindow *popup = windows.at(i);
        auto *animation = new QPropertyAnimation(popup, "pos", this);
        animation->setDuration(GlideDuration);
        animation->setStartValue(popup->pos());
        animation->setEndValue(popupPosition(i));
        // Deleted however it ends: finished, replaced by a newer glide of the same popup, or
        // stopped because its popup was deleted.
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    }
}

void NotifyManager::onPopupDisappeared(NotifyWindow *popup)
{
    windows.removeAll(popup);
    relayout();
    // Where the slots were full, the next popup waits for the others to glide up.
    if (windows.size() == qMin(maxCount, slotsOnScreen()) - 1)
        QTimer::singleShot(GlideDuration, this, [this] { showNext(); });
    else
        showNext();
    popup->deleteLater();
}
