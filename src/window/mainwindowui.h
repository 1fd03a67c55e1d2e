#pragma once

#include "ui_mainwindow.h"

// The main window's form record: one non-owning pointer per widget, each
// named after its widget.
class MainWindowUi : public Ui::MainWindow
{
};
