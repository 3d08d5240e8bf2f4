// The reference for the first-start benchmark: an engine window and nothing else.
//
//   bench_bare_window <url> [WIDTHxHEIGHT] [--hidden]
//
// The size, when given, is the client window's, so both render the same number of pixels.
// With --hidden the window is never mapped (the idle benchmark's reference for a client that
// sits in the tray).
#include <QApplication>
#include <QUrl>
#include <QWebEngineView>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_bare_window URL [WIDTHxHEIGHT] [--hidden]\n");
        return 2;
    }
    QWebEngineView view;
    bool hidden = false;
    for (int i = 2; i < argc; ++i) {
        const QList<QByteArray> size = QByteArray(argv[i]).split('x');
        if (qstrcmp(argv[i], "--hidden") == 0)
            hidden = true;
        else if (size.size() == 2)
            view.resize(size.at(0).toInt(), size.at(1).toInt());
    }
    view.load(QUrl::fromUserInput(QString::fromLocal8Bit(argv[1])));
    if (!hidden)
        view.show();
    return QApplication::exec();
}
