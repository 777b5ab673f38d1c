#pragma once

#include "mousepointer.h"

#include <QList>

// Records every pointer setting, so a test sees what long work showed and when.
class PointerLog : public PointerOwner
{
public:
    MousePointer mousePointer() const override { return m_value; }
    void setMousePointer(MousePointer pointer) override
    {
        m_value = pointer;
        settings << pointer;
    }
    QList<MousePointer> settings;

private:
    MousePointer m_value = MousePointer::Arrow;
};
