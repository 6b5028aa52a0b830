// The glyphs of the preview transport buttons (Play, Pause, Stop), painted
// at run time so that they stay sharp at every screen scale and need no
// image files. They take the colours of the palette at the time they are
// made: readable on the buttons of light and dark styles alike.
#pragma once

#include <QIcon>

QIcon PlayGlyph();
QIcon PauseGlyph();
QIcon StopGlyph();
