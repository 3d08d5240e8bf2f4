#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

// One notice on its way from the main window to the notification manager.
struct NoticeItem
{
    int targetType = 0; // 0 task reminder, 1 schedule reminder, 2 schedule invitation
    QString title;
    QString content;
    QString busicId;
    QString startTime;
    QString endTime;
    QString noticeJson;
    QString notifyId;
    // The page (its bridge) that sent the notice: the answers go back there. Opaque here.
    QPointer<QObject> source;
};
