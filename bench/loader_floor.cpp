// The reference for the second-start benchmark: linked with everything the program links,
// it returns at once, so its run time is what loading those libraries costs.
//
//   bench_loader_floor [--qapplication]   (the option also builds a QApplication first)
#include <QApplication>

#include <cstring>

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--qapplication") == 0) {
        QApplication app(argc, argv);
        return 0;
    }
    return 0;
}
