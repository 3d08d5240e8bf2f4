#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPoint>

#include "notify/forcenoticerules.h"
#include "notify/noticeitem.h"
#include "notify/notifywindow.h"

class QScreen;

// Decides which notices become native popups and keeps at most three of them on screen. Every
// popup's answers go to one relay, with the notice's source, which says whether a page took them.
class NotifyManager : public QObject
{
    Q_OBJECT
public:
    explicit NotifyManager(QObject *parent = nullptr);
    ~NotifyManager() override;

    void setForceNotice(const QJsonObject &config);
    bool isForceNotice(int &targetType, int busicType, const QString &type) const;
    void addNotice(const NoticeItem &item);
    void setAnswerRelay(NotifyWindow::AnswerRelay relay) { answerRelay = std::move(relay); }

    // Read-only views of the state, for diagnostics and tests.
    int popupStayTime() const { return forceRules.stayTimeMs(); }
    QList<NotifyWindow *> popups() const { return windows; }
    int waitingCount() const { return queue.size(); }
    QList<int> allowedBusicTypes() const { return forceRules.busicTypes(); }
    QMap<QString, int> rules() const { return forceRules.noticeKeys(); }

    // Top-left corner of the popup in slot index (0 is the top one) on the primary screen.
    static QPoint popupPosition(int index);
    // The same on the given screen. Without one (none attached, or a monitor change under
    // way) a nominal 1280x800 desktop stands in.
    static QPoint popupPosition(int index, const QScreen *screen);
    // How many of the three slots fit the primary screen's available area (at least one).
    static int slotsOnScreen();

    // Keyboard access for those who cannot reach a popup with the mouse: the newest popup
    // takes the focus. False when none is shown.
    bool focusNewestPopup();

private:
    void showNext();
    void relayout();
    void onPopupDisappeared(NotifyWindow *popup);

    int maxCount = 3;
    ForceNoticeRules forceRules;
    QList<NoticeItem> queue;
    QList<NotifyWindow *> windows;
    NotifyWindow::AnswerRelay answerRelay;
};
