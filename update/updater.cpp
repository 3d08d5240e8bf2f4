#include "update/updater.h"

#include "mainwindow/mainwindow.h"

// Placeholder until the version check lands.
Updater::Updater(MainWindow *window) : QObject(window), m_window(window) {}

void Updater::checkVersion(bool silent)
{
    m_silentCheck = silent;
}

void Updater::downloadFile(const QString &, const QString &) {}

void Updater::handleNetworkRequestFinished(QNetworkReply *) {}

void Updater::cancelDownload() {}

void Updater::downloadFinished(const QString &) {}

void Updater::downloadReadyRead() {}

void Updater::startUpdate() {}
