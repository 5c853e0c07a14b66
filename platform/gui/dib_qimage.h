// SPDX-License-Identifier: MIT
// The GUI half of the raster: conversion for on-screen drawing.
#pragma once

#include "platform/dib.h"

#include <QImage>

namespace pix {

// A QImage with the same pixels and colours (Format_Mono, Format_Indexed8 with a colour
// table, or Format_BGR888; 4-bit rasters become Format_Indexed8). The image owns a copy.
QImage DibToQImage(const BITMAPINFO* info, const void* bits);
QImage DibToQImage(const TDibSection& section);

}  // namespace pix
