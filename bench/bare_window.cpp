// The reference for the first-start benchmark: an engine window and nothing else.
//
//   bench_bare_window <url> [WIDTHxHEIGHT]
//
// The size, when given, is the client window's, so both render the same number of pixels.
#include <QApplication>
#include <QUrl>
#include <QWebEngineView>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_bare_window URL [WIDTHxHEIGHT]\n");
        return 2;
    }
    QWebEngineView view;
    if (argc > 2) {
        const QList<QByteArray> size = QByteArray(argv[2]).split('x');
        if (size.size() == 2)
            view.resize(size.at(0).toInt(), size.at(1).toInt());
    }
    view.load(QUrl::fromUserInput(QString::fromLocal8Bit(argv[1])));
    view.show();
    return QApplication::exec();
}
