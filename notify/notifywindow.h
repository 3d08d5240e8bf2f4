#pragma once

#include <QMap>
#include <QPointer>
#include <QRegion>
#include <QString>
#include <QWidget>

#include <functional>

#include "notify/noticeanswer.h"

class QFontMetrics;
class QPropertyAnimation;
class QLabel;
class QMouseEvent;
class QPushButton;
class QTimer;

// One native notice popup: fades in, stays, fades out and reports disappear(). Its buttons hand
// the user's answer to the relay, which tells whether it reached a page.
class NotifyWindow : public QWidget
{
    Q_OBJECT
public:
    NotifyWindow(int stayTime, int type, QWidget *parent = nullptr);
    ~NotifyWindow() override;

    void setTitle(const QString &value) { title = value; }
    void setContent(const QString &value) { content = value; }
    void setBusicId(const QString &value) { busicId = value; }
    void setStartTime(const QString &value) { startTime = value; }
    void setEndTime(const QString &value) { endTime = value; }
    void setNoticeJson(const QString &value) { noticeJson = value; }
    void setNotifyId(const QString &value) { notifyId = value; }
    void setSource(QObject *value) { source = value; }

    // Passes an answer on; true when a page took it. Without a relay nothing is delivered.
    using AnswerRelay = std::function<bool(const NoticeAnswer &)>;
    void setAnswerRelay(AnswerRelay relay) { answerRelay = std::move(relay); }

    int popupType() const { return type; }
    const QLabel *icon() const { return iconLabel; }

    // Lays out the texts and starts the fade-in; the popup must already have its size.
    void showNotify();
    void fadeOut();
    // Raises and activates the popup and puts the keyboard focus on its first button. While
    // it is the active window it stays on screen; Escape closes it.
    void takeFocus();

    // Captions per popup type; a type without an entry has an empty caption.
    static QMap<int, QString> typeNames;
    static void initTypeNames();

    // The title as shown for the popup type (schedule reminders and invitations merge the
    // content into it); other types keep the title as it is.
    static QString composeTitle(int type, const QString &title, const QString &content);
    // Up to two lines: unchanged when it fits the width, otherwise a first line cut before the
    // ellipsis and the rest, elided to the width minus 14.
    static QString twoLineTitle(const QString &title, const QFontMetrics &metrics, int width);

    // Corner radius of the white panel.
    static const int CornerRadius = 16;
    // The panel's rounded outline as a window region.
    static QRegion roundedShape(const QSize &size, int radius);
    // Without a compositor translucent pixels come out black, so the popup is clipped instead.
    static bool needsShapeMask();

signals:
    void disappear();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void startStay();
    void viewDetail();
    void acknowledge();
    void answerSchedule(bool accept);
    bool deliver(NoticeAnswer::Kind kind);

    int stayTime;
    int type;
    QString title;
    QString content;
    QString busicId;
    QString startTime;
    QString endTime;
    QString noticeJson;
    QString notifyId;
    QPointer<QObject> source;
    AnswerRelay answerRelay;

    QLabel *bkground = nullptr;
    QLabel *iconLabel = nullptr;
    QLabel *typeLabel = nullptr;
    QLabel *timeLabel = nullptr;
    QLabel *titleLabel = nullptr;
    QLabel *contentLabel = nullptr;
    QPushButton *btnViewDetail = nullptr;
    QPushButton *btnReject = nullptr;
    QPushButton *btnKnown = nullptr;

    QPointer<QPropertyAnimation> fadeInAnimation;
    QTimer *stayTimer = nullptr;
    bool gone = false;
};
