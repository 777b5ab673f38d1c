#include "form1.h"

#include "addfiles.h"
#include "addfolder.h"
#include "batchdriver.h"
#include "childprocesses.h"
#include "dialogs.h"
#include "filelistview.h"
#include "fonts.h"
#include "picturebox.h"
#include "pointerrule.h"
#include "twips.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

#include <vector>

namespace {

void setBackground(QWidget *widget, QPalette::ColorRole role, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, QRect geometry)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setFont(arialBold(11.25));
    button->setGeometry(geometry);
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, Qt::white);
    button->setPalette(palette);
    return button;
}

} // namespace

Form1::Form1(Form1Environment environment, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_environment(std::move(environment)),
      m_ownDialogs(m_environment.dialogs ? nullptr : std::make_unique<QtDialogs>()),
      m_dialogs(m_environment.dialogs ? m_environment.dialogs : m_ownDialogs.get())
{
    setObjectName(QStringLiteral("Form1"));
    setFixedSize(twips::size(kClientWidth, kClientHeight));
    setBackground(this, QPalette::Window, Qt::white);

    // Created in the designed order; the tab order is set afterwards.
    Frame1 = new QGroupBox(QStringLiteral("JPG Image Quality"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFont(arialBold(9));
    Frame1->setGeometry(twips::rect(120, 2280, 6360, 855));
    setBackground(Frame1, QPalette::Window, Qt::white);

    Slider1 = new QSlider(Qt::Horizontal, Frame1);
    Slider1->setObjectName(QStringLiteral("Slider1"));
    Slider1->setGeometry(twips::rect(120, 240, 6120, 495));
    Slider1->setRange(1, 100);
    Slider1->setSingleStep(1);
    Slider1->setPageStep(5);
    Slider1->setTickPosition(QSlider::TicksBelow);
    Slider1->setTickInterval(1);

    Creator = new PictureBox(this);
    Creator->setObjectName(QStringLiteral("Creator"));
    Creator->setGeometry(twips::rect(7200, 180, 255, 255));
    Creator->hide(); // an off-screen canvas, beyond the client area and never shown

    ListView1 = new FileListView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setFont(arialBold(9));
    ListView1->setGeometry(twips::rect(120, 120, 6360, 1575));
    ListView1->setToolTip(QStringLiteral("Drag and drop files here. Double-click item to remove "
                                         "it. Move bar to right and out of window to reveal full "
                                         "names."));

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setFont(arialBold(9));
    ProgressBar1->setGeometry(twips::rect(120, 3800, 6360, 405));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setFormat(QStringLiteral("Progress Bar"));
    ProgressBar1->setTextVisible(false);
    {
        QPalette palette = ProgressBar1->palette();
        palette.setColor(QPalette::Base, Qt::white);
        palette.setColor(QPalette::Window, Qt::white);
        ProgressBar1->setPalette(palette);
    }

    PushButton1 = makeButton(this, "PushButton1", QStringLiteral("Add Word File(s)"),
                             twips::rect(120, 1800, 2880, 405));
    PushButton4 = makeButton(this, "PushButton4", QStringLiteral("Add All Word Files In Folder"),
                             twips::rect(3120, 1800, 3360, 405));
    PushButton2 = makeButton(this, "PushButton2", QStringLiteral("Start Saving As JPG"),
                             twips::rect(120, 3270, 6360, 405));

    QWidget *tabOrder[] = {ListView1, Creator,     ProgressBar1, Frame1,
                           Slider1,   PushButton1, PushButton4,  PushButton2};
    // Qt links only focusable widgets into the tab order, so the controls that take no
    // focus (the canvas, the progress bar, the frame) are made focusable while linked.
    std::vector<Qt::FocusPolicy> policies;
    for (QWidget *control : tabOrder) {
        policies.push_back(control->focusPolicy());
        if (control->focusPolicy() == Qt::NoFocus)
            control->setFocusPolicy(Qt::TabFocus);
    }
    for (size_t i = 1; i < std::size(tabOrder); ++i)
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
    for (size_t i = 0; i < std::size(tabOrder); ++i)
        tabOrder[i]->setFocusPolicy(policies[i]);

    // The two add buttons; drops on the list are handled by the list itself.
    connect(PushButton1, &QPushButton::clicked, this,
            [this] { addWordFiles(this, dialogs(), *ListView1); });
    connect(PushButton4, &QPushButton::clicked, this,
            [this] { addAllWordFilesInFolder(this, dialogs(), *this, *ListView1); });

    // The start button.
    BatchHost batch;
    batch.window = this;
    batch.dialogs = m_dialogs;
    batch.pointer = this;
    batch.progressBar = ProgressBar1;
    batch.rowCount = [this] { return ListView1->rowCount(); };
    batch.rowText = [this](int position) { return ListView1->rowText(position); };
    batch.exporter.creator = Creator;
    batch.exporter.quality = Slider1;
    batch.exporter.pointer = this;
    batch.exporter.clipboard = QGuiApplication::clipboard();
    batch.createWord = m_environment.createWord;
    batch.isWordRunning = m_environment.isWordRunning;
    batch.expectDocuments = m_environment.expectDocuments;
    m_batch = std::make_unique<BatchDriver>(std::move(batch));
    connect(PushButton2, &QPushButton::clicked, this, [this] { m_batch->run(); });
    new PointerRule(this);
}

Form1::~Form1() = default;

void Form1::setMousePointer(int pointer)
{
    m_mousePointer = pointer;
    switch (pointer) {
    case vbHourglass:
        setCursor(Qt::WaitCursor);
        break;
    case vbCustom:
        if (m_hasMouseIcon)
            setCursor(m_mouseIcon);
        else
            setCursor(Qt::ArrowCursor);
        break;
    default:
        setCursor(Qt::ArrowCursor);
        break;
    }
}

// Closing the window ends the program at once, even inside a long operation that
// is pumping events: no engine is left behind, and nothing returns into that work.
void Form1::closeEvent(QCloseEvent *event)
{
    childprocesses::killAll();
    if (m_environment.endProgram)
        m_environment.endProgram();
    QWidget::closeEvent(event);
}

void Form1::setMouseIcon(const QCursor &cursor)
{
    m_mouseIcon = cursor;
    m_hasMouseIcon = true;
    if (m_mousePointer == vbCustom)
        setCursor(cursor);
}
