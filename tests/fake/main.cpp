// tolvi-fake-service: the test fake of the chat service as a program, for
// tests of the whole binary. Script format and control calls: README.md.
//
//   tolvi-fake-service [--port N] [--script script.json]
//
// Prints "PORT <n>" once listening on 127.0.0.1, then serves until killed.
#include "FakeScript.h"
#include "FakeService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <cstdio>

namespace {

bool readScript(const QString &path, QJsonObject *script, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        *error = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                              : QStringLiteral("not a JSON object");
        return false;
    }
    *script = document.object();
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tolvi-fake-service"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A scriptable stand-in for the chat service."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port to listen on (0: any)."),
        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption scriptOption(
        QStringLiteral("script"), QStringLiteral("JSON script file."), QStringLiteral("file"));
    parser.addOption(portOption);
    parser.addOption(scriptOption);
    parser.process(app);

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535) {
        std::fprintf(stderr, "tolvi-fake-service: bad port\n");
        return 2;
    }

    fake::FakeService service;
    FakeScript script(&service);
    if (parser.isSet(scriptOption)) {
        QJsonObject object;
        QString error;
        if (!readScript(parser.value(scriptOption), &object, &error) || !script.load(object, &error)) {
            std::fprintf(stderr, "tolvi-fake-service: %s\n", qPrintable(error));
            return 2;
        }
    }
    if (!service.start(quint16(port))) {
        std::fprintf(stderr, "tolvi-fake-service: cannot listen on port %u\n", port);
        return 1;
    }
    std::printf("PORT %u\n", unsigned(service.port()));
    std::fflush(stdout);
    return app.exec();
}
