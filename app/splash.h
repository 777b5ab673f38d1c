#pragma once

#include <QWidget>

#include <array>

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
    // Four lines, laid out as the picture's frame when it is shown.
    std::array<LineShape *, 4> frame; // left, top, right, bottom
    PictureBox *picture;
};
