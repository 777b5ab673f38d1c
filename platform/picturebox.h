#pragma once

#include <QImage>
#include <QWidget>

// A picture box that sizes itself to the picture it is given, like the classic
// AutoSize picture box. Its image is the picture it holds, at full size.
class PictureBox final : public QWidget
{
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent = nullptr);

    void setPicture(const QImage &picture);
    const QImage &image() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_picture;
};
