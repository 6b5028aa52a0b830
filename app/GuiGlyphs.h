// The glyphs of the preview transport buttons (Play, Pause, Stop), painted
// at run time so that they stay sharp at every screen scale and need no
// image files.
#pragma once

#include <QIcon>

QIcon PlayGlyph();
QIcon PauseGlyph();
QIcon StopGlyph();
