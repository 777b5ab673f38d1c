#include "mainwindow.h"

#include "addfiles.h"
#include "addfolder.h"
#include "batchdriver.h"
#include "childprocesses.h"
#include "dialogs.h"
#include "dropping.h"
#include "filelistview.h"
#include "fonts.h"
#include "picturebox.h"
#include "pointerrule.h"
#include "twips.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
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

MainWindow::MainWindow(MainWindowEnvironment environment, QWidget *parent)
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
    qualityFrame = new QGroupBox(QStringLiteral("JPG Image Quality"), this);
    qualityFrame->setObjectName(QStringLiteral("Frame1"));
    qualityFrame->setFont(arialBold(9));
    qualityFrame->setGeometry(twips::rect(120, 2280, 6360, 855));
    setBackground(qualityFrame, QPalette::Window, Qt::white);

    qualitySlider = new QSlider(Qt::Horizontal, qualityFrame);
    qualitySlider->setObjectName(QStringLiteral("Slider1"));
    qualitySlider->setGeometry(twips::rect(120, 240, 6120, 495));
    qualitySlider->setRange(1, 100);
    qualitySlider->setSingleStep(1);
    qualitySlider->setPageStep(5);
    qualitySlider->setTickPosition(QSlider::TicksBelow);
    qualitySlider->setTickInterval(1);

    pageCanvas = new PictureBox(this);
    pageCanvas->setObjectName(QStringLiteral("Creator"));
    pageCanvas->setGeometry(twips::rect(7200, 180, 255, 255));
    pageCanvas->hide(); // an off-screen canvas, beyond the client area and never shown

    fileList = new FileListView(this);
    fileList->setObjectName(QStringLiteral("ListView1"));
    fileList->setFont(arialBold(9));
    fileList->setGeometry(twips::rect(120, 120, 6360, 1575));
    fileList->setToolTip(QStringLiteral("Drag and drop files here. Double-click item to remove "
                                        "it. Move bar to right and out of window to reveal full "
                                        "names."));

    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar->setFont(arialBold(9));
    progressBar->setGeometry(twips::rect(120, 3800, 6360, 405));
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setFormat(QStringLiteral("Progress Bar"));
    progressBar->setTextVisible(false);
    {
        QPalette palette = progressBar->palette();
        palette.setColor(QPalette::Base, Qt::white);
        palette.setColor(QPalette::Window, Qt::white);
        progressBar->setPalette(palette);
    }

    addFilesButton = makeButton(this, "PushButton1", QStringLiteral("Add Word File(s)"),
                                twips::rect(120, 1800, 2880, 405));
    addFolderButton =
        makeButton(this, "PushButton4", QStringLiteral("Add All Word Files In Folder"),
                   twips::rect(3120, 1800, 3360, 405));
    startButton = makeButton(this, "PushButton2", QStringLiteral("Start Saving As JPG"),
                             twips::rect(120, 3270, 6360, 405));

    QWidget *tabOrder[] = {fileList,      pageCanvas,     progressBar,     qualityFrame,
                           qualitySlider, addFilesButton, addFolderButton, startButton};
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

    // The three ways of filling the list.
    connect(addFilesButton, &QPushButton::clicked, this,
            [this] { addWordFiles(this, dialogs(), *fileList); });
    connect(addFolderButton, &QPushButton::clicked, this,
            [this] { addAllWordFilesInFolder(this, dialogs(), *this, *fileList); });
    connect(fileList, &FileListView::pathsDropped, this,
            [this](const QStringList &paths) { appendDroppedPaths(*fileList, paths); });

    // The start button.
    BatchHost batch;
    batch.window = this;
    batch.dialogs = m_dialogs;
    batch.pointer = this;
    batch.progressBar = progressBar;
    batch.rowCount = [this] { return fileList->rowCount(); };
    batch.rowText = [this](int position) { return fileList->rowText(position); };
    batch.exporter.canvas = pageCanvas;
    batch.exporter.quality = qualitySlider;
    batch.exporter.clipboard = QGuiApplication::clipboard();
    batch.createWord = m_environment.createWord;
    batch.isOfficeRunning = m_environment.isOfficeRunning;
    batch.expectDocuments = m_environment.expectDocuments;
    batch.sandboxNotice = m_environment.sandboxNotice;
    m_batch = std::make_unique<BatchDriver>(std::move(batch));
    connect(startButton, &QPushButton::clicked, this, [this] { m_batch->run(); });
    new PointerRule(
        this, *this, {addFilesButton, startButton, addFolderButton},
        {fileList, fileList->viewport(), fileList->header(), fileList->header()->viewport()});
}

MainWindow::~MainWindow() = default;

void MainWindow::setMousePointer(MousePointer pointer)
{
    m_mousePointer = pointer;
    switch (pointer) {
    case MousePointer::Hourglass:
        setCursor(Qt::WaitCursor);
        break;
    case MousePointer::Hand:
        if (m_hasMouseIcon)
            setCursor(m_mouseIcon);
        else
            setCursor(Qt::ArrowCursor);
        break;
    case MousePointer::Arrow:
        setCursor(Qt::ArrowCursor);
        break;
    }
}

// Closing the window ends the program at once, even inside a long operation that
// is pumping events: no engine is left behind, and nothing returns into that work.
void MainWindow::closeEvent(QCloseEvent *event)
{
    childprocesses::killAll();
    if (m_environment.endProgram)
        m_environment.endProgram();
    QWidget::closeEvent(event);
}

void MainWindow::setMouseIcon(const QCursor &cursor)
{
    m_mouseIcon = cursor;
    m_hasMouseIcon = true;
    if (m_mousePointer == MousePointer::Hand)
        setCursor(cursor);
}
