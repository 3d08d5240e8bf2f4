#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// Reads the service's version file and decides what the client does about it: which server
// directives apply and what the release means for this client. No widget and no network here;
// the updater applies the decisions and shows the boxes.
class VersionFile
{
public:
    // The current settings and circumstances the decisions depend on.
    struct Input
    {
        QString clearCacheVersion; // version of the last cache clearing
        QString defaultMainPage;
        QString serviceUrl;     // the service base URL: a main page must be of its origin
        int updateMode = 2;     // 0 no automatic offers, 1 ask first, 2 download, then ask
        bool silent = true;     // an automatic check, not one the user asked for
        bool overHttps = false; // the file itself came over https
    };

    enum class Release {
        None,          // nothing to say: no usable release information
        UpToDate,      // the announced release is not newer
        BrokenVersion, // "latest-version" has fewer than three parts
        Optional,      // a newer release the user may take
        Mandatory      // a newer release that downloads without a question
    };

    struct Decisions
    {
        bool parsed = false; // false: not a JSON document, nothing else applies

        bool installForceNotice = false;
        QJsonObject forceNotice;

        bool setNoticeStayTime = false;
        int noticeStayTime = 3; // seconds, 1 to one day

        int checkUpdateInterval = 0; // seconds; 0 leaves the period as it is

        bool clearCache = false;
        QString cacheVersion; // the "ver" to record after clearing

        QString newMainPage;     // empty: the main page stays
        QString refusedMainPage; // a "main-page" outside the service, ignored

        Release release = Release::None;
        QString latestVersion;
        QString updateUrl;
        bool ask = false;          // Optional: put the question; false passes the offer over
        bool background = false;   // Optional: download without asking, then ask to install
        bool report = false;       // UpToDate, BrokenVersion: tell the user
        bool requireHttps = false; // the installer and its redirects must stay on https
    };

    // The longest tray message time a server can ask for.
    static constexpr int MaxNoticeStaySeconds = 24 * 60 * 60;

    static Decisions evaluate(const QByteArray &bytes, const Input &input);
};
