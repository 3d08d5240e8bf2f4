#pragma once

#include <QString>

// What the download list makes of a download's names and sizes; no widget and no web engine.
class DownloadRules
{
public:
    enum class State { Requested, InProgress, Completed, Cancelled, Interrupted };

    // What the progress bar shows for one state of a download.
    struct Progress
    {
        bool changes = false; // false: leave the bar as it is
        int value = 0;        // 0 to 100
        bool enabled = true;
        QString format;
    };

    // The file name part of a suggested path: everything after the last "/".
    static QString fileNameOf(const QString &suggestedPath);
    // Where the save dialog starts: the download folder, one "/", the file name.
    static QString suggestedPath(const QString &downloadPath, const QString &fileName);
    // Save dialog filter for a MIME type.
    static QString fileFilter(const QString &mimeType);
    // The folder part of a file path: everything before the last "/".
    static QString folderOf(const QString &filePath);

    // Byte count with a binary unit (B, KiB, MiB, GiB), digits in the default locale.
    static QString withUnit(double bytes);
    // Bar value, state and text for a download; a total below 0 means the size is unknown.
    static Progress progressFor(State state, double received, double total, double bytesPerSecond,
                                const QString &interruption);
    // Received bytes as a whole percentage of the total, 0 to 100.
    static int percent(double received, double total);
};
