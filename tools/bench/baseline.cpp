// orvessa-bench-baseline PORT UDP_PORT ORIGIN: the bench's reference server; runs until it is killed.
#include "BaselineServer.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 4) {
        std::fprintf(stderr, "usage: orvessa-bench-baseline PORT UDP_PORT ORIGIN\n");
        return 2;
    }
    BaselineServer server(arguments.at(3));
    if (!server.listen(arguments.at(1).toUShort(), arguments.at(2).toUShort())) {
        std::fprintf(stderr, "orvessa-bench-baseline: cannot listen\n");
        return 1;
    }
    return QCoreApplication::exec();
}
