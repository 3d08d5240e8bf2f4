#pragma once

#include <QString>

// A notice message as the page sends it: a JSON object in text form. Absent keys and keys of
// another JSON type read as their defaults.
struct NoticeMessage
{
    bool parsed = false; // false for text that is not JSON at all
    QString title;
    QString content;
    QString type;
    int busicType = 0;
    QString busicId;
    QString startTime;
    QString endTime;
    QString notifyId;

    static NoticeMessage parse(const QString &text);
    // Balloon texts keep 15 characters, longer ones are cut and get "...".
    static QString shortened(const QString &text);
};
