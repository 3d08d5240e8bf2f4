// Build tool: cuts the sizes of the application icon into hicolor PNGs for the desktop.
// Usage: exporticons ICON.ico OUTDIR NAME SIZE...   writes OUTDIR/SIZExSIZE/apps/NAME.png
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QMap>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5) {
        fprintf(stderr, "usage: exporticons ICON.ico OUTDIR NAME SIZE...\n");
        return 2;
    }
    QImageReader reader(args.at(1));
    QMap<int, QImage> frames;
    do {
        const QImage frame = reader.read();
        if (!frame.isNull() && frame.width() == frame.height())
            frames.insert(frame.width(), frame);
    } while (reader.jumpToNextImage());
    if (frames.isEmpty()) {
        fprintf(stderr, "exporticons: no square image in %s: %s\n", qPrintable(args.at(1)),
                qPrintable(reader.errorString()));
        return 1;
    }
    for (int i = 4; i < args.size(); ++i) {
        const int size = args.at(i).toInt();
        if (size <= 0) {
            fprintf(stderr, "exporticons: bad size %s\n", qPrintable(args.at(i)));
            return 2;
        }
        // The frame of that size as drawn; otherwise the next larger one scaled down.
        auto it = frames.lowerBound(size);
        if (it == frames.end())
            it = std::prev(frames.end());
        QImage image = it.value().convertToFormat(QImage::Format_ARGB32);
        if (image.width() != size)
            image = image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(args.at(2)).arg(size);
        const QString file = dir + QLatin1Char('/') + args.at(3) + QStringLiteral(".png");
        if (!QDir().mkpath(dir) || !image.save(file, "PNG")) {
            fprintf(stderr, "exporticons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
