#include "splash.h"

#include "fonts.h"
#include "lineshape.h"
#include "picturebox.h"
#include "twips.h"

#include <QCheckBox>

Splash::Splash(QWidget *parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("Splash"));
    resize(twips::size(kDesignWidth, kDesignHeight));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);

    hideCheckBox = new QCheckBox(QStringLiteral("Hide this at next startup"), this);
    hideCheckBox->setObjectName(QStringLiteral("Check1"));
    hideCheckBox->setFont(arialBold(9));
    hideCheckBox->setGeometry(twips::rect(120, 1200, 4215, 375));
    hideCheckBox->setChecked(false);

    auto makeLine = [this](const char *name, double x1, double y1, double x2, double y2) {
        auto *line = new LineShape(this);
        line->setObjectName(QLatin1String(name));
        line->setEnds(x1, y1, x2, y2);
        return line;
    };
    leftLine = makeLine("Line1", 240, 1800, 3480, 1800);
    topLine = makeLine("Line2", 240, 2040, 3480, 2040);
    rightLine = makeLine("Line3", 240, 2280, 3480, 2280);
    bottomLine = makeLine("Line4", 240, 2520, 3480, 2520);

    picture = new PictureBox(this);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->setGeometry(twips::rect(120, 240, 1215, 855));
    picture->setFocusPolicy(Qt::NoFocus);

    // The frame is drawn over the picture where the two overlap.
    picture->lower();
}
