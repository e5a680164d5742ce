#pragma once

#include <QRect>

// Where the log window goes, as its geometry without frame: beside the main
// window, never over it while the screen has room. mainGeometry and
// mainFrame are the main window without and with its frame; the log window's
// frame is taken to be as wide as the main window's. available is the
// screen's room for windows.
QRect placeBeside(const QRect &mainGeometry, const QRect &mainFrame, int width, const QRect &available);
