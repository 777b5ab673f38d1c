#pragma once

class GfxState;
class SplashOutputDev;

// Fills the current path of `state` as `device` would, when it is a rectangle with
// sides along the pixel grid, painted in one opaque colour: the pixels it covers
// whole are set at once, and only the rows and columns along its edges are left to
// poppler's smoothed filling, so the pixels come out the same. A slide's background
// is such a rectangle over the whole page, which poppler would otherwise smooth pixel
// by pixel. False, having drawn nothing, for any other fill. For the page's own
// bitmap only, whose fill colour is the state's.
bool fillRectangleQuickly(SplashOutputDev &device, GfxState *state, bool evenOdd);
