#pragma once

class QWebEngineProfile;
class WebView;

// What a view asks of the window it lives in. Main windows provide it; a view in any other
// window (a popup, a bare test window) has no host and opens nothing.
class WebViewHost
{
public:
    virtual ~WebViewHost() = default;

    // The page's state (client version, enables, logins) is pushed after each navigation.
    virtual void refreshPageState() = 0;
    virtual bool isMenuBarHidden() const = 0;
    virtual void showMenuBar() = 0;
    virtual void hideMenuBar() = 0;
    virtual void openSettingsDialog() = 0;

    virtual WebView *currentView() const = 0;
    virtual bool hasTabs() const = 0;
    // A new tab's view, in front or behind; null without tabs.
    virtual WebView *openTab(bool background) = 0;
    // The view of a new single-view window.
    virtual WebView *openWindow() = 0;
    // The view of a new popup window on the given profile.
    virtual WebView *openPopup(QWebEngineProfile *profile) = 0;
};
