#pragma once

#include <QSize>

class QWidget;

// Gives the top-level `window` the size `wanted`, or as much of it as the free part of its
// screen holds with room for the window's frame, so no edge or button is out of reach on a
// small screen or at a large scale. Call it once its controls are laid out, before it shows.
void ResizeToFitScreen(QWidget* window, QSize wanted);
