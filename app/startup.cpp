#include "startup.h"

#include "form1.h"

#include <QApplication>

int runPagelift(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Form1 form;
    form.setWindowTitle(QStringLiteral("Pagelift"));
    form.show();
    return app.exec();
}
