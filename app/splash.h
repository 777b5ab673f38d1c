#pragma once

#include <QWidget>

class LineShape;
class PictureBox;
class QCheckBox;

// The borderless start-up window: a picture framed by four lines, with a check box
// along its bottom edge.
class Splash : public QWidget
{
    Q_OBJECT
public:
    explicit Splash(QWidget *parent = nullptr);

    // The client area as designed, in twips; the picture decides the size shown.
    static constexpr int kDesignWidth = 4560;
    static constexpr int kDesignHeight = 3030;

    QCheckBox *hideCheckBox;
    LineShape *leftLine;
    LineShape *topLine;
    LineShape *rightLine;
    LineShape *bottomLine;
    PictureBox *picture;
};
