#pragma once

#include <QString>

// Where Tolvi keeps its files.
namespace AppPaths {

// "<XDG data home>/Tolvi" (so ~/.local/share/Tolvi), or "<temp>/Tolvi" when
// there is no data location. Created with mode 0700 on every call; a failure
// to create it is ignored.
QString dir();

} // namespace AppPaths
