#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

// A popup's answer on its way back to the page that sent the notice.
struct NoticeAnswer
{
    enum Kind {
        Detail, // 查看详情: the notice text back to the page
        Read,   // 知道啦: notifyId
        Accept, // 接受: busicId, then the notice text
        Reject  // 拒绝: busicId, then the notice text
    };
    Kind kind = Detail;
    // The sender of the notice as the bridge gave it; null once that page is gone.
    QPointer<QObject> source;
    QString busicId;
    QString notifyId;
    QString noticeJson;
};
