// The pictures of the window frame: the banner across the top (a JPEG,
// decoded here with libjpeg) and the 32 x 32 logo, both compiled into the
// program as resources.
#pragma once

#include <QImage>
#include <QPixmap>

#include <cstddef>
#include <cstdint>

// Decodes a baseline or progressive JPEG held in memory; a null image when
// the data is not a JPEG libjpeg can read (the error is not thrown).
QImage DecodeJpeg(const uint8_t* data, size_t size);

QPixmap BannerPicture();  // 653 x 57
QPixmap LogoPicture();    // 32 x 32
