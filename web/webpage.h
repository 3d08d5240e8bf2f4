#pragma once

#include <QWebEnginePage>

// The page behind the views of tabs and popup windows: decides permission, scheme-handler,
// authentication and certificate questions for the user.
class WebPage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit WebPage(QWebEngineProfile *profile, QObject *parent = nullptr);
};
