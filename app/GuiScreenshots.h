// Pictures of the window for the documentation: both pages, drawn
// offscreen, with a sample file opened when one is given.
#pragma once

#include <QString>

// Writes "split-page.png" and "tag-page.png" into folder; returns the
// process exit status (0 on success).
int SaveScreenshots(const QString& folder, const QString& sampleFile);
