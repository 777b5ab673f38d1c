#pragma once

// The pointer setting of the main window: one value that decides the pointer over
// the whole window, its controls included.
enum MousePointer : int
{
    vbDefault = 0,    // the standard arrow
    vbHourglass = 11, // long work is going on
    vbCustom = 99,    // the hand picture loaded at start-up (arrow when there is none)
};

// Whatever owns a pointer setting: the main window, or a stand-in in tests.
class PointerOwner
{
public:
    virtual ~PointerOwner() = default;
    virtual int mousePointer() const = 0;
    virtual void setMousePointer(int pointer) = 0;
};
