// A Tolvi start-up in miniature for test_instance: claims the per-user
// instance and prints "primary" (then "show" for each later start) or
// "secondary" (and exits 0, as Tolvi does).
#include "core/instance/SingleInstance.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

void say(const char *word)
{
    std::printf("%s\n", word);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    SingleInstance instance;
    if (!instance.tryBecomePrimary()) {
        say("secondary");
        return 0;
    }
    QObject::connect(&instance, &SingleInstance::showRequested, [] { say("show"); });
    say("primary");
    return app.exec();
}
