/* Pagelift example skin: a Qt style sheet. Copy it to x/o.cjs beside the program
   to skin the main window; remove it to go back to the designed look. */

QPushButton {
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #fdfdfd, stop: 1 palette(button));
    border: 1px solid palette(mid);
    border-radius: 4px;
    padding: 2px 8px;
}
QPushButton:hover {
    border-color: #1f57a8;
}
QPushButton:pressed {
    background-color: palette(midlight);
}
QGroupBox {
    border: 1px solid palette(mid);
    border-radius: 4px;
    margin-top: 8px;
}
QGroupBox::title {
    subcontrol-origin: margin;
    left: 8px;
    padding: 0 3px;
}
QProgressBar {
    border: 1px solid palette(mid);
    border-radius: 4px;
    background: white;
}
QProgressBar::chunk {
    background-color: #1f57a8;
}
QHeaderView::section {
    background-color: palette(button);
    border: none;
    border-bottom: 1px solid palette(mid);
    padding: 2px 4px;
}

/* schema: Orange */
QProgressBar::chunk {
    background-color: #f28c28;
}
QPushButton:hover {
    border-color: #f28c28;
}
