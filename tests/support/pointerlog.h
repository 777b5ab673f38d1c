#pragma once

#include "mousepointer.h"

#include <QList>

// Records every pointer setting, so a test sees what long work showed and when.
class PointerLog : public PointerOwner
{
public:
    int mousePointer() const override { return m_value; }
    void setMousePointer(int pointer) override
    {
        m_value = pointer;
        settings << pointer;
    }
    QList<int> settings;

private:
    int m_value = vbDefault;
};
