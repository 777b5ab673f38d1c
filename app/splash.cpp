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

    // As designed: four horizontal lines, 240 twips apart, named Line1 to Line4.
    for (size_t i = 0; i < frame.size(); ++i) {
        const double y = 1800 + 240 * double(i);
        frame[i] = new LineShape(this);
        frame[i]->setObjectName(QStringLiteral("Line%1").arg(i + 1));
        frame[i]->setEnds(240, y, 3480, y);
    }

    picture = new PictureBox(this);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->setGeometry(twips::rect(120, 240, 1215, 855));
    picture->setFocusPolicy(Qt::NoFocus);

    // The frame is drawn over the picture where the two overlap.
    picture->lower();
}
