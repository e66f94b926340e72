#pragma once

#include <QFont>

namespace v38 {

// The windows are laid out in pixels for a small sans-serif face of 11 pixels per
// em. DejaVu Sans at that size fits every caption in its place; where it is missing
// the nearest sans-serif face of the platform stands in.
QFont windowFont(int pixelSize = 11);

} // namespace v38
