#pragma once

// The pointer setting of the main window: one value that decides the pointer over
// the whole window, its controls included.
enum class MousePointer : int
{
    Arrow = 0,      // the standard arrow
    Hourglass = 11, // long work is going on
    Hand = 99,      // the hand picture loaded at start-up (the arrow when there is none)
};

// Whatever owns a pointer setting: the main window, or a stand-in in tests.
class PointerOwner
{
public:
    virtual ~PointerOwner() = default;
    virtual MousePointer mousePointer() const = 0;
    virtual void setMousePointer(MousePointer pointer) = 0;
};

// Shows the hourglass for as long as it lives, and the arrow after. Long work calls
// show() again at each step: work started from events meanwhile (a folder scan during
// a run) ends with the arrow, and the hourglass must come back.
class BusyPointer
{
public:
    explicit BusyPointer(PointerOwner &owner) : m_owner(owner) { show(); }
    ~BusyPointer() { end(); }
    BusyPointer(const BusyPointer &) = delete;
    BusyPointer &operator=(const BusyPointer &) = delete;

    void show() { m_owner.setMousePointer(MousePointer::Hourglass); }
    // The arrow now, before the guard goes: for a message shown at the end of the work.
    void end() { m_owner.setMousePointer(MousePointer::Arrow); }

private:
    PointerOwner &m_owner;
};
