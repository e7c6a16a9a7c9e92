#pragma once

#include <QByteArray>

// The complete HTTP responses of the loopback listener. Every response closes
// the connection.
namespace LoopbackPages {

// 200 with the page telling the user that they are signed in.
QByteArray signedIn();
// 200 with the page telling the user that the sign-in did not go through
// (the service sent an error or no code, or no key came of the code).
QByteArray notCompleted();
// 404 with "<html><body>Not found</body></html>".
QByteArray notFound();

} // namespace LoopbackPages
